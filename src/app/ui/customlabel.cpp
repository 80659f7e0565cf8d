#include "customlabel.h"

namespace vl {

CustomLabel::CustomLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {}

CustomLabel::~CustomLabel() { delete m_hint; }

void CustomLabel::enterEvent(QEvent *event)
{
    QLabel::enterEvent(event);
    if (toolTip().isEmpty())
        return;
    if (!m_hint) {
        m_hint = new QLabel(nullptr, Qt::ToolTip);
        m_hint->setStyleSheet(QStringLiteral("background-color: yellow; color: black;"));
    }
    m_hint->setText(toolTip());
    m_hint->adjustSize();
    m_hint->move(mapToGlobal(rect().bottomLeft()) + QPoint(0, 10));
    m_hint->show();
}

void CustomLabel::leaveEvent(QEvent *event)
{
    QLabel::leaveEvent(event);
    if (m_hint)
        m_hint->hide();
}

}  // namespace vl
