// Timings of the rule table's hot paths: the 100 ms controller pass and Clear.

#include "app/ui/widget.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace vl;

namespace {

void fillFullTable(RuleModel &m)
{
    m.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        const bool cc = r % 2;
        const QStringList cells = {QString::number(r % 1024 + 1),
                                   cc ? "CC" : "Note",
                                   cc ? "7" : "60 / C4",
                                   "ALL",
                                   "OFF",
                                   "OFF",
                                   "OFF",
                                   "OFF",
                                   "ON"};
        m.setText(r, ColSn, QString::number(r + 1));
        for (int c = 0; c < cells.size(); ++c)
            m.setText(r, ColDmx + c, cells[c]);
    }
}

// One tick of the controller pass over a full table that is already in its form.
void BM_NormalizeSettledTable(benchmark::State &state)
{
    RuleModel m;
    fillFullTable(m);
    normalizeControllerTexts(m, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(normalizeControllerTexts(m, 2));
}
BENCHMARK(BM_NormalizeSettledTable)->Unit(benchmark::kMicrosecond);

// Clear on a full table in the editor window, with the change forwarding it causes.
void BM_ClearFullTable(benchmark::State &state)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    Widget w;
    for (auto _ : state) {
        state.PauseTiming();
        fillFullTable(*w.ruleModel());
        QCoreApplication::processEvents();
        state.ResumeTiming();
        w.clearAllRules();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_ClearFullTable)->Unit(benchmark::kMillisecond);

}  // namespace
