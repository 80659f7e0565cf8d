// Saving and opening a full rule table as a workbook, and the same work done by
// python3-openpyxl in its fastest modes, timed pair by pair in one run.

#include "common/core/safefile.h"
#include "files/ui/workbookcommands.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace vl;

namespace {

void fillFullTable(RuleModel &rules, RemarkModel &remarks)
{
    rules.setRowCount(kRuleRows);
    const QStringList statuses = {"Note", "AT", "CC"};
    for (int r = 0; r < kRuleRows; ++r) {
        const QString status = statuses[r % 3];
        const QStringList cells = {QString::number(r + 1),
                                   QString::number(r % 1024 + 1),
                                   status,
                                   status == "CC" ? "7" : "60 / C4",
                                   "ALL",
                                   "OFF",
                                   "5",
                                   "OFF",
                                   "OFF",
                                   "ON"};
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

// The whole write every save ends with, for the full table's workbook: writeFileWhole(),
// which syncs the file before the rename, against QSaveFile, which the saves used before.
void BM_WriteWorkbookWhole(benchmark::State &state)
{
    QFile in(fullWorkbook());
    in.open(QIODevice::ReadOnly);
    const QByteArray bytes = in.readAll();
    const QString path = workbookDir() + "/whole.xlsx";
    for (auto _ : state) {
        if (state.range(0) == 0) {
            writeFileWhole(path, bytes);
        } else {
            QSaveFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            file.commit();
        }
    }
}
BENCHMARK(BM_WriteWorkbookWhole)->Arg(0)->Arg(1)->ArgName("qsavefile")->Unit(benchmark::kMillisecond)->UseRealTime();

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

// CPU time of the whole process, all threads.
double processCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
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
    // Wall and CPU milliseconds of one command of the openpyxl side.
    const auto ask = [&](const QString &command) {
        python.write(command.toUtf8() + '\n');
        while (!python.canReadLine())
            if (!python.waitForReadyRead(60000))
                return std::pair<double, double>(-1, -1);
        const QList<QByteArray> f = python.readLine().trimmed().split(' ');
        return std::pair<double, double>(f.value(0).toDouble(), f.value(1).toDouble());
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
    // [what][wall or CPU]: our times, theirs, the ratios within the pairs
    std::vector<double> mine[2][2], other[2][2], ratio[2][2];
    for (int i = 0; i < pairs; ++i) {
        for (int what = 0; what < 2; ++what) {
            QElapsedTimer t;
            t.start();
            const double cpu = processCpuMs();
            if (what == 0)
                save(rules, remarks, ours);
            else
                open(ours);
            const double ourTimes[2] = {t.nsecsElapsed() / 1e6, processCpuMs() - cpu};
            const auto theirTimes = ask(what == 0 ? "write " + theirs : "read " + ours);
            if (theirTimes.first < 0)
                return 1;
            for (int k = 0; k < 2; ++k) {
                mine[what][k].push_back(ourTimes[k]);
                other[what][k].push_back(k == 0 ? theirTimes.first : theirTimes.second);
                ratio[what][k].push_back(other[what][k].back() / mine[what][k].back());
            }
        }
    }
    std::printf("load average after:  %s\n", loadAverage().constData());
    std::printf("%d pairs, full table of %d rules with remarks; medians:\n", pairs, kRuleRows);
    for (int what = 0; what < 2; ++what) {
        for (int k = 0; k < 2; ++k) {
            const std::vector<double> &r = ratio[what][k];
            std::printf("%-4s %-4s ours %6.1f ms  openpyxl %6.1f ms  ratio median %4.1fx (min %4.1fx, max %4.1fx)\n",
                        what == 0 ? "save" : "open", k == 0 ? "wall" : "CPU", median(mine[what][k]),
                        median(other[what][k]), median(r), *std::min_element(r.begin(), r.end()),
                        *std::max_element(r.begin(), r.end()));
        }
    }
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
