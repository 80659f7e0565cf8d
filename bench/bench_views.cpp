// Timings of the rule view's commands on a full table in the editor window, each with the
// change forwarding it causes, and of one idle tick of the alias label timer.

#include "app/ui/widget.h"
#include "preview/core/previewsink.h"
#include "table/core/aliasstore.h"
#include "table/ui/delegates.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/tableviews.h"

#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

using namespace vl;

namespace {

// A preview that takes every call and does nothing with it.
class NullPreview final : public PreviewSink {
public:
    void rebuildRuleSnapshots() override {}
    void refreshCcFaders() override {}
    void markNoteKeys() override {}
    void markAtKeys() override {}
    void refreshFixtureDmxChannels() override {}
    void refreshDetailsPanel() override {}
    void setCoefficient(double) override {}
    void setNaming(int) override {}
    void ruleCellChanged(int, int, const QString &) override {}
    void ruleRemarkChanged(int, const QString &) override {}
    void ruleRowInserted(int) override {}
    void ruleRowsDeleted(int, int) override {}
    void showMaximized() override {}
    void show() override {}
    void close() override {}
};

// The editor window in a fresh working directory, its preview attached.
struct Editor {
    QTemporaryDir dir;
    NullPreview preview;
    std::unique_ptr<Widget> w;
    Editor()
    {
        QDir::setCurrent(dir.path());
        w = std::make_unique<Widget>();
        w->setPreview(&preview);
    }
};

void fillFullTable(RuleModel &m, int filledRows = kRuleRows)
{
    m.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        m.setText(r, ColSn, QString::number(r + 1));
        const bool cc = r % 2;
        const QStringList cells = {QString::number(r % 1024 + 1),
                                   cc ? "CC" : "Note",
                                   cc ? "7" : "60 / C3",
                                   QString::number(r % 16 + 1),
                                   QString::number(r % 255 + 1),
                                   "OFF",
                                   "OFF",
                                   "OFF",
                                   "ON"};
        for (int c = 0; c < cells.size(); ++c) {
            if (r < filledRows)
                m.setText(r, ColDmx + c, cells[c]);
            else
                m.clearCell(r, ColDmx + c);
        }
    }
    QCoreApplication::processEvents();
}

void selectSnRows(MyTableView *view, int first, int last)
{
    view->selectionModel()->select(
        QItemSelection(view->model()->index(first, ColSn), view->model()->index(last, ColSn)),
        QItemSelectionModel::ClearAndSelect);
}

// A drag fill from the first row down over all 3071 empty rows below it.
void BM_DragFillWholeTable(benchmark::State &state)
{
    Editor e;
    for (auto _ : state) {
        state.PauseTiming();
        fillFullTable(*e.w->ruleModel(), 1);
        state.ResumeTiming();
        e.w->tableView()->fillDownSeries(0, kRuleRows - 1, ColDmx);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_DragFillWholeTable)->Unit(benchmark::kMillisecond)->Iterations(10);

// "Insert rows above" on rows 5 … 7 of a full table, with the renumbering that follows.
void BM_InsertRowsFullTable(benchmark::State &state)
{
    Editor e;
    for (auto _ : state) {
        state.PauseTiming();
        fillFullTable(*e.w->ruleModel());
        selectSnRows(e.w->tableView(), 5, 7);
        state.ResumeTiming();
        e.w->tableView()->insertRowsAbove();
        e.w->tableView()->renumberSn();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_InsertRowsFullTable)->Unit(benchmark::kMillisecond)->Iterations(10);

// "Delete the current rows and move the next row up" on rows 5 … 6 of a full table.
void BM_DeleteMoveUpFullTable(benchmark::State &state)
{
    Editor e;
    for (auto _ : state) {
        state.PauseTiming();
        fillFullTable(*e.w->ruleModel());
        selectSnRows(e.w->tableView(), 5, 6);
        state.ResumeTiming();
        e.w->tableView()->deleteRowsMoveUp();
        e.w->tableView()->renumberSn();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_DeleteMoveUpFullTable)->Unit(benchmark::kMillisecond)->Iterations(10);

// One tick of the alias label timer on a full table with aliases and no DMX editor open.
void BM_AliasTickIdle(benchmark::State &state)
{
    Editor e;
    fillFullTable(*e.w->ruleModel());
    QStringList aliases;
    for (int i = 0; i < kDmxChannels; ++i)
        aliases << QStringLiteral("Fixture %1").arg(i + 1);
    e.w->aliasStore()->setAliases(aliases);
    for (auto _ : state)
        e.w->updateAliases();
}
BENCHMARK(BM_AliasTickIdle)->Unit(benchmark::kMicrosecond);

// One 100 ms tick of the window on a settled full table while a controller editor is open.
void BM_WindowTickWithControllerEditor(benchmark::State &state)
{
    Editor e;
    fillFullTable(*e.w->ruleModel());
    e.w->normalizeControllerTexts();
    e.w->show();
    const QModelIndex cell = e.w->ruleModel()->index(10, ColCtl);
    e.w->tableView()->setCurrentIndex(cell);
    e.w->tableView()->edit(cell);
    e.w->normalizeControllerTexts();
    for (auto _ : state)
        e.w->normalizeControllerTexts();
    state.counters["editors"] = e.w->ruleDelegate()->openComboEditors(ColCtl).size();
}
BENCHMARK(BM_WindowTickWithControllerEditor)->Unit(benchmark::kMicrosecond);

}  // namespace
