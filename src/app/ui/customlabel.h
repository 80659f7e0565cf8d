#pragma once

#include <QLabel>
#include <QPointer>

namespace vl {

// A column title that, besides its tooltip, shows the tooltip text in a yellow hint just
// below itself while the pointer rests on it.
class CustomLabel : public QLabel {
    Q_OBJECT
public:
    explicit CustomLabel(const QString &text, QWidget *parent = nullptr);
    ~CustomLabel() override;

    // The hint window, created on the first hover; for tests.
    QLabel *hint() const { return m_hint.data(); }

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QPointer<QLabel> m_hint;
};

}  // namespace vl
