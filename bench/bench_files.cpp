// Saving and opening a full rule table as a workbook.

#include "files/workbookcommands.h"
#include "files/workbookio.h"
#include "files/xlsxdocument.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "table/ruleops.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace vl;

namespace {

void fillFullTable(RuleModel &rules, RemarkModel &remarks)
{
    rules.setRowCount(kRuleRows);
    const QStringList statuses = {"Note", "AT", "CC"};
    for (int r = 0; r < kRuleRows; ++r) {
        const QString status = statuses[r % 3];
        const QStringList cells = {QString::number(r + 1), QString::number(r % 1024 + 1), status,
                                   status == "CC" ? "7" : "60 / C4", "ALL", "OFF", "5", "OFF", "OFF", "ON"};
        for (int c = 0; c < cells.size(); ++c)
            rules.setText(r, c, cells[c]);
        remarks.setText(r, 0, QStringLiteral("Fixture %1 front").arg(r));
    }
}

QString workbookDir()
{
    static QTemporaryDir dir;
    return dir.path();
}

void BM_SaveFullTable(benchmark::State &state)
{
    RuleModel rules;
    RemarkModel remarks;
    fillFullTable(rules, remarks);
    const QString path = workbookDir() + "/save.xlsx";
    for (auto _ : state) {
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        if (!doc.saveAs(path))
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveFullTable)->Unit(benchmark::kMillisecond);

void BM_OpenFullTable(benchmark::State &state)
{
    RuleModel rules;
    RemarkModel remarks;
    fillFullTable(rules, remarks);
    const QString path = workbookDir() + "/open.xlsx";
    {
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        doc.saveAs(path);
    }
    for (auto _ : state) {
        RuleModel loaded;
        RemarkModel loadedRemarks;
        const WorkbookImport in = readRuleWorkbook(path);
        applyWorkbookRows(loaded, in);
        applyRemarkLines(loadedRemarks, in.remarkLines);
        benchmark::DoNotOptimize(loaded.rowCount());
    }
}
BENCHMARK(BM_OpenFullTable)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // With --write-workbook PATH the program only writes the benchmark's workbook, so that
    // other readers can be timed on exactly the same file.
    const QStringList args = app.arguments();
    const int at = args.indexOf("--write-workbook");
    if (at > 0 && at + 1 < args.size()) {
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        return doc.saveAs(args[at + 1]) ? 0 : 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
