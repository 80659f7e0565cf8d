#include "tableviews.h"

#include <QHeaderView>
#include <QScrollBar>

namespace vl {

const QString &tableViewStyleSheet()
{
    static const QString style = QStringLiteral(
        "QTableView { background-color: #4F4F4F; gridline-color: #4F4F4F; color: #F8F8FF;"
        " selection-background-color: rgba(202, 244, 27, 0.3); }"
        "QTableView::item { background-color: rgba(255, 255, 255, 0.1); color: #F8F8FF;"
        " text-align: center; }"
        "QTableView::item:selected { background-color: rgba(202, 244, 27, 0.3); }");
    return style;
}

MyTableView::MyTableView(QWidget *parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("tableView"));
    setStyleSheet(tableViewStyleSheet());
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setMouseTracking(true);
}

MyTableView2::MyTableView2(QWidget *parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("tableView_2"));
    setStyleSheet(tableViewStyleSheet());
    setMouseTracking(true);
}

void linkVerticalScrollBars(QTableView *a, QTableView *b)
{
    QScrollBar *sa = a->verticalScrollBar();
    QScrollBar *sb = b->verticalScrollBar();
    QObject::connect(sa, &QScrollBar::valueChanged, sb, &QScrollBar::setValue, Qt::UniqueConnection);
    QObject::connect(sb, &QScrollBar::valueChanged, sa, &QScrollBar::setValue, Qt::UniqueConnection);
}

}  // namespace vl
