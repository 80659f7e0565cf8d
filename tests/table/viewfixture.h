#pragma once

// The rule view and the remark view side by side with their models, delegates and focus
// filter, wired as the editor window wires them, in a shown window.

#include "table/ui/delegates.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/tableviews.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QTest>
#include <QWidget>

namespace vl::test {

// A recognisable rule for row r of a full table, and its remark.
inline QStringList sampleRule(int r)
{
    return {QString::number(r % 1024 + 1),
            "CC",
            QString::number(r % 128),
            QString::number(r % 16 + 1),
            QString::number(r % 255 + 1),
            "OFF",
            "OFF",
            "OFF",
            "ON"};
}
inline QString sampleRemark(int r) { return QStringLiteral("remark %1").arg(r); }

struct ViewFixture {
    QWidget window;
    RuleModel rules;
    RemarkModel remarks;
    MyTableView *view = nullptr;
    MyTableView2 *remarkView = nullptr;
    CombinedDelegate *delegate = nullptr;
    SharedFocusFilter *filter = nullptr;
    bool exposed = false;

    enum Fill { Numbered, Full };

    // A table of `rows` rows numbered 1 … rows; Full also gives every row its sample rule
    // and remark, before the views show the table, which is far cheaper than fillFull().
    explicit ViewFixture(int rows, Fill fill = Numbered)
    {
        rules.setRowCount(rows);
        for (int r = 0; r < rows; ++r)
            rules.setText(r, ColSn, QString::number(r + 1));
        if (rows > remarks.rowCount())
            remarks.setRowCount(rows);  // a remark beside every rule, as in the editor
        if (fill == Full)
            fillFull();

        view = new MyTableView(&window);
        remarkView = new MyTableView2(&window);
        auto *layout = new QHBoxLayout(&window);
        layout->setSpacing(0);
        layout->addWidget(view, 10);
        layout->addWidget(remarkView, 1);

        view->setModel(&rules);
        view->setRemarkModel(&remarks);
        view->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        view->horizontalHeader()->hide();
        view->verticalHeader()->hide();
        delegate = new CombinedDelegate(view);
        view->setItemDelegate(delegate);

        remarkView->setModel(&remarks);
        remarkView->setItemDelegate(new KepItemDelegate(remarkView));
        remarkView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        remarkView->horizontalHeader()->hide();
        remarkView->verticalHeader()->hide();
        linkVerticalScrollBars(view, remarkView);

        filter = new SharedFocusFilter(view, remarkView, &window);
        view->installEventFilter(filter);
        remarkView->installEventFilter(filter);

        window.resize(1100, 600);
        window.show();
        exposed = QTest::qWaitForWindowExposed(&window);
    }

    void setRule(int row, const QStringList &cells)
    {
        for (int c = 0; c < cells.size(); ++c)
            if (!cells[c].isNull())
                rules.setText(row, ColDmx + c, cells[c]);
    }

    QStringList rule(int row) const
    {
        QStringList cells;
        for (int c = ColDmx; c <= ColEnable; ++c)
            cells << rules.text(row, c);
        return cells;
    }

    void fillFull()
    {
        for (int r = 0; r < rules.rowCount(); ++r) {
            setRule(r, sampleRule(r));
            remarks.setText(r, 0, sampleRemark(r));
        }
    }

    QPoint cell(int row, int column) const { return view->visualRect(rules.index(row, column)).center(); }
    QPoint remarkCell(int row) const { return remarkView->visualRect(remarks.index(row, 0)).center(); }
};

}  // namespace vl::test
