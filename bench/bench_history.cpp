// The edit history in the shown editor window: undo and redo of a drag fill over the whole
// table and of a Read, each until the views have painted, beside the drag fill itself as
// the baseline; and the memory 100 full-table steps keep.

#include "app/ui/widget.h"
#include "device/core/boxconversation.h"
#include "table/core/aliasstore.h"
#include "table/ui/edithistory.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"
#include "table/ui/tableviews.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUndoStack>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <memory>

using namespace vl;

namespace {

struct Editor {
    QTemporaryDir dir;
    std::unique_ptr<Widget> w;
    Editor()
    {
        QDir::setCurrent(dir.path());
        w = std::make_unique<Widget>();
        w->show();
        QCoreApplication::processEvents();
    }
    void settle()
    {
        QCoreApplication::processEvents();
        w->editHistory()->flush();
        QCoreApplication::processEvents();
    }
};

// A full table whose first `filledRows` rows hold rules.
void fillTable(RuleModel &m, int filledRows, int seed = 0)
{
    m.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        m.setText(r, ColSn, QString::number(r + 1));
        const QStringList cells = {QString::number((r + seed) % 1024 + 1),
                                   "CC",
                                   QString::number((r + seed) % 128),
                                   QString::number(r % 16 + 1),
                                   "OFF",
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
}

// Until the views have painted what changed.
void paint(Widget &w)
{
    w.tableView()->viewport()->repaint();
    w.tableView_2()->viewport()->repaint();
    QCoreApplication::processEvents();
}

// Times the undo of the last step (with range(0) its redo), each until painted; the other
// half of the round trip is not timed.
void timeUndoOrRedo(benchmark::State &state, Editor &e)
{
    const bool redo = state.range(0);
    EditHistory *h = e.w->editHistory();
    const auto step = [&](bool forward) {
        forward ? h->redo() : h->undo();
        paint(*e.w);
    };
    for (auto _ : state) {
        state.PauseTiming();
        if (redo)
            step(false);
        state.ResumeTiming();
        step(redo);
        state.PauseTiming();
        if (!redo)
            step(true);
        state.ResumeTiming();
    }
}

// The baseline: the drag fill over the whole table, painted.
void BM_DragFillWholeTable(benchmark::State &state)
{
    Editor e;
    for (auto _ : state) {
        state.PauseTiming();
        fillTable(*e.w->ruleModel(), 1);
        e.settle();
        state.ResumeTiming();
        e.w->tableView()->fillDownSeries(0, kRuleRows - 1, ColDmx);
        e.w->editHistory()->flush();
        paint(*e.w);
    }
}
BENCHMARK(BM_DragFillWholeTable)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_UndoRedoDragFill(benchmark::State &state)
{
    Editor e;
    fillTable(*e.w->ruleModel(), 1);
    e.settle();
    e.w->tableView()->fillDownSeries(0, kRuleRows - 1, ColDmx);
    e.settle();
    timeUndoOrRedo(state, e);
}
BENCHMARK(BM_UndoRedoDragFill)->Arg(0)->Arg(1)->ArgNames({"redo"})->Unit(benchmark::kMillisecond)->Iterations(20);

// What Read does to the table, the remarks and the aliases, as one step.
void readTable(Widget &w, const QList<QStringList> &rows)
{
    EditHistory *h = w.editHistory();
    h->beginStep(QStringLiteral("Read"));
    w.ruleModel()->removeRows(0, w.ruleModel()->rowCount());
    w.resetRemarkColumn(kRuleRows);
    w.aliasStore()->clear();
    for (int r = 0; r < rows.size(); ++r)
        insertUploadedRow(*w.ruleModel(), r, rows.at(r));
    h->endStep();
}

void BM_UndoRedoRead(benchmark::State &state)
{
    Editor e;
    fillTable(*e.w->ruleModel(), kRuleRows, 5);
    e.w->applyRemarkLines("alias0=front\nalias3071=last\n");
    QStringList aliases;
    for (int i = 0; i < kDmxChannels; ++i)
        aliases << QStringLiteral("Fixture %1").arg(i + 1);
    e.w->aliasStore()->setAliases(aliases);
    e.settle();
    QList<QStringList> rows;
    for (int r = 0; r < kRuleRows; ++r)
        rows << QStringList{QString::number(r + 1),
                            QString::number(r % 1024 + 1),
                            "Note",
                            "60 / C3",
                            "ALL",
                            "OFF",
                            "OFF",
                            "OFF",
                            "OFF",
                            "ON"};
    readTable(*e.w, rows);
    e.settle();
    timeUndoOrRedo(state, e);
}
BENCHMARK(BM_UndoRedoRead)->Arg(0)->Arg(1)->ArgNames({"redo"})->Unit(benchmark::kMillisecond)->Iterations(20);

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * 4 : 0;
}

// 100 steps that each change every cell of every rule: the memory the history keeps, and
// as the baseline the same edits with the history emptied after each step.
void BM_HundredFullTableSteps(benchmark::State &state)
{
    const bool keep = state.range(0);
    for (auto _ : state) {
        Editor e;
        fillTable(*e.w->ruleModel(), kRuleRows);
        e.settle();
        malloc_trim(0);
        const long before = residentKiB();
        const double heapBefore = double(mallinfo2().uordblks);
        for (int step = 1; step <= 100; ++step) {
            fillTable(*e.w->ruleModel(), kRuleRows, step);
            e.w->editHistory()->flush();
            if (!keep)
                e.w->editHistory()->stack()->clear();
        }
        QCoreApplication::processEvents();
        malloc_trim(0);
        state.counters["steps"] = e.w->editHistory()->stack()->count();
        state.counters["heap_growth_MiB"] = (double(mallinfo2().uordblks) - heapBefore) / 1048576.0;
        state.counters["resident_growth_MiB"] = double(residentKiB() - before) / 1024.0;
    }
}
BENCHMARK(BM_HundredFullTableSteps)->Arg(0)->Arg(1)->ArgNames({"kept"})->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
