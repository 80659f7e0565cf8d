#pragma once

// The rule view and the remark view beside it.

#include <QTableView>

class QStandardItemModel;

namespace vl {

class MyTableView : public QTableView {
    Q_OBJECT
public:
    explicit MyTableView(QWidget *parent = nullptr);

    int cnum() const { return m_cnum; }
    void setCnum(int cnum) { m_cnum = cnum; }
    QStandardItemModel *remarkModel() const { return m_remarks; }
    void setRemarkModel(QStandardItemModel *remarks) { m_remarks = remarks; }

signals:
    void send_startrow(int row);
    void send_start_ad_strow(int startRow, int endRow);

private:
    int m_cnum = 2;
    QStandardItemModel *m_remarks = nullptr;
};

class MyTableView2 : public QTableView {
    Q_OBJECT
public:
    explicit MyTableView2(QWidget *parent = nullptr);
};

// The style both views share: dark cells, light text, a yellow-green selection.
const QString &tableViewStyleSheet();

// Each view's vertical scroll bar follows the other's.
void linkVerticalScrollBars(QTableView *a, QTableView *b);

}  // namespace vl
