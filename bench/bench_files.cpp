// Saving and opening a full rule table as a workbook, and the same work done by
// python3-openpyxl in its fastest modes, timed pair by pair in one run.

#include "files/workbookcommands.h"
#include "files/workbookio.h"
#include "files/xlsxdocument.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "table/ruleops.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

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

// The full table's workbook; with `extraColumns`, that many columns of notes right of the
// remark, which opening passes over.
QString fullWorkbook(int extraColumns = 0)
{
    const QString path = workbookDir() + QStringLiteral("/full-%1.xlsx").arg(extraColumns);
    if (QFile::exists(path))
        return path;
    RuleModel rules;
    RemarkModel remarks;
    fillFullTable(rules, remarks);
    xlsx::Document doc;
    fillRuleWorkbook(doc, rules, remarks);
    for (int r = 0; r < kRuleRows; ++r)
        for (int c = 0; c < extraColumns; ++c)
            doc.write(r + 2, kRuleColumns + 2 + c, QStringLiteral("note %1").arg(c));
    doc.saveAs(path);
    return path;
}

void save(const RuleModel &rules, const RemarkModel &remarks, const QString &path)
{
    xlsx::Document doc;
    fillRuleWorkbook(doc, rules, remarks);
    doc.saveAs(path);
}

int open(const QString &path)
{
    RuleModel loaded;
    RemarkModel loadedRemarks;
    const WorkbookImport in = readRuleWorkbook(path);
    applyWorkbookRows(loaded, in);
    applyRemarkLines(loadedRemarks, in.remarkLines);
    return loaded.rowCount();
}

void BM_SaveFullTable(benchmark::State &state)
{
    RuleModel rules;
    RemarkModel remarks;
    fillFullTable(rules, remarks);
    const QString path = workbookDir() + "/save.xlsx";
    for (auto _ : state)
        save(rules, remarks, path);
}
BENCHMARK(BM_SaveFullTable)->Unit(benchmark::kMillisecond)->UseRealTime();

// Open File's work: the workbook into the rule table and the remarks.
void BM_OpenFullTable(benchmark::State &state)
{
    const QString path = fullWorkbook(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(open(path));
}
BENCHMARK(BM_OpenFullTable)->Arg(0)->Arg(50)->ArgName("extra_columns")->Unit(benchmark::kMillisecond)->UseRealTime();

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("?");
}

// Our save and open against openpyxl's write_only and read_only modes, one after the
// other, `pairs` times; each ratio is taken within its pair.
int versusOpenpyxl(int pairs, const QString &script)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {script, QStringLiteral("serve")});
    if (!python.waitForStarted())
        return 1;
    const auto ask = [&](const QString &command) {
        python.write(command.toUtf8() + '\n');
        while (!python.canReadLine())
            if (!python.waitForReadyRead(60000))
                return -1.0;
        return python.readLine().trimmed().toDouble();
    };
    RuleModel rules;
    RemarkModel remarks;
    fillFullTable(rules, remarks);
    const QString ours = workbookDir() + "/ours.xlsx";
    const QString theirs = workbookDir() + "/theirs.xlsx";
    save(rules, remarks, ours);
    ask("read " + ours);  // warm both sides up once
    open(ours);

    std::printf("load average before: %s\n", loadAverage().constData());
    std::vector<double> oursSave, theirsWrite, oursOpen, theirsRead, saveRatio, openRatio;
    for (int i = 0; i < pairs; ++i) {
        QElapsedTimer t;
        t.start();
        save(rules, remarks, ours);
        oursSave.push_back(t.nsecsElapsed() / 1e6);
        theirsWrite.push_back(ask("write " + theirs));
        t.restart();
        open(ours);
        oursOpen.push_back(t.nsecsElapsed() / 1e6);
        theirsRead.push_back(ask("read " + ours));
        if (theirsWrite.back() < 0 || theirsRead.back() < 0)
            return 1;
        saveRatio.push_back(theirsWrite.back() / oursSave.back());
        openRatio.push_back(theirsRead.back() / oursOpen.back());
    }
    std::printf("load average after:  %s\n", loadAverage().constData());
    const auto row = [](const char *what, const std::vector<double> &a, const std::vector<double> &b,
                        const std::vector<double> &ratio) {
        std::printf("%-6s ours %6.1f ms  openpyxl %6.1f ms  ratio median %4.1fx (min %4.1fx, max %4.1fx)\n", what,
                    median(a), median(b), median(ratio), *std::min_element(ratio.begin(), ratio.end()),
                    *std::max_element(ratio.begin(), ratio.end()));
    };
    std::printf("%d pairs, medians of wall times, full table of %d rules with remarks:\n", pairs, kRuleRows);
    row("save", oursSave, theirsWrite, saveRatio);
    row("open", oursOpen, theirsRead, openRatio);
    python.closeWriteChannel();
    python.waitForFinished();
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    // --write-workbook PATH: only write the benchmark's workbook, so that other programs
    // can be timed on exactly the same file.
    int at = args.indexOf("--write-workbook");
    if (at > 0 && at + 1 < args.size()) {
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        return doc.saveAs(args[at + 1]) ? 0 : 1;
    }
    // --versus-openpyxl PAIRS SCRIPT: our save and open against bench/openpyxl_timing.py.
    at = args.indexOf("--versus-openpyxl");
    if (at > 0 && at + 2 < args.size())
        return versusOpenpyxl(args[at + 1].toInt(), args[at + 2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
