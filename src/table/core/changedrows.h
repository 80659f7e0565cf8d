#pragma once

// The rows of a model that changed since the last clear(), as one range from the first
// changed row to the last. A row inserted, removed or moved marks every row from it to the
// end (they all moved); a reset or a new column marks the whole model.

#include <QObject>

#include <climits>

class QAbstractItemModel;

namespace vl {

class ChangedRows : public QObject {
    Q_OBJECT
public:
    // Starts with nothing marked.
    explicit ChangedRows(QAbstractItemModel *model, QObject *parent = nullptr);

    bool any() const { return m_first <= m_last; }
    int first() const { return m_first; }
    // INT_MAX: to the end of the model.
    int last() const { return m_last; }

    void mark(int first, int last);
    void markAll() { mark(0, INT_MAX); }
    void clear();

signals:
    // After every mark, from the model or by hand.
    void marked();

private:
    int m_first = INT_MAX;
    int m_last = -1;
};

}  // namespace vl
