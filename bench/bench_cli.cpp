// varilume-cli's offline commands in-process, as the program runs them: a workbook to
// the image Set would send, and an image to the workbook or text Read would give.

#include "cli/commands.h"
#include "device/core/tableimage.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace vl;

namespace {

QTemporaryDir *g_dir = nullptr;

QString path(const char *name) { return g_dir->filePath(QString::fromLatin1(name)); }

// A full table of 3072 rules and its image.
void writeFixtures()
{
    RuleModel m;
    m.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        const QStringList cells = {QString::number(r + 1),
                                   QString::number(r % 1024 + 1),
                                   "Note",
                                   QString::number(r % 128),
                                   r % 16 ? QString::number(r % 16) : "ALL",
                                   "OFF",
                                   QString::number(r % 50 + 1),
                                   "OFF",
                                   "ON",
                                   "ON"};
        for (int c = 0; c < cells.size(); ++c)
            m.setText(r, c, cells[c]);
    }
    RemarkModel remarks;
    xlsx::Document doc;
    fillRuleWorkbook(doc, m, remarks);
    doc.saveAs(path("full.xlsx"));
    QFile image(path("full.bin"));
    image.open(QIODevice::WriteOnly);
    image.write(encodeTableImage(m));
}

void runCli(benchmark::State &state, const QStringList &args)
{
    for (auto _ : state) {
        QBuffer out;
        QBuffer err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        if (cli::run(QStringList{"varilume-cli"} + args, out, err) != 0)
            state.SkipWithError(err.data().constData());
        benchmark::DoNotOptimize(out.data().size());
    }
}

void BM_ImageOfWorkbook(benchmark::State &state) { runCli(state, {"image", path("full.xlsx"), "-o", path("out.bin")}); }
BENCHMARK(BM_ImageOfWorkbook)->Unit(benchmark::kMillisecond);

void BM_DecodeToWorkbook(benchmark::State &state)
{
    runCli(state, {"decode", path("full.bin"), "-o", path("out.xlsx")});
}
BENCHMARK(BM_DecodeToWorkbook)->Unit(benchmark::kMillisecond);

void BM_DecodeToText(benchmark::State &state) { runCli(state, {"decode", path("full.bin"), "-o", "-"}); }
BENCHMARK(BM_DecodeToText)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    writeFixtures();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
