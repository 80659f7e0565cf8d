// The editor window's workbook paths as a user meets them: from the file dialog accepted
// to the rows painted (Open File), to the message box (Save File As...), and from the last
// byte of the box's table to the rows painted (Read). The baseline, timed in the same run:
// a bare QTableView showing the same 3072 × 10 texts, filled and painted.

#include "app/ui/widget.h"
#include "common/ui/dialogs.h"
#include "device/core/boxconversation.h"
#include "device/core/protocol.h"
#include "device/ui/serialport.h"
#include "device/core/tableimage.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/tableviews.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace vl;

namespace {

// Answers every message with OK and every file dialog with the file it is given.
class Answers final : public DialogSeam {
public:
    QString file;
    QMessageBox::StandardButton message(const MessageRequest &m) override
    {
        last = m.text;
        return QMessageBox::Ok;
    }
    QString last;
    QString fileName(const FileRequest &) override { return file; }
    InputAnswer inputText(const InputRequest &) override { return {}; }
    int runDialog(QDialog *) override { return 0; }
};

// Notes when a widget has painted.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget *w) { w->installEventFilter(this); }
    bool painted = false;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            painted = true;
        return false;
    }
    void waitForPaint()
    {
        while (!painted)
            QCoreApplication::processEvents();
    }
};

QStringList ruleCells(int r)
{
    const bool cc = r % 2;
    return {QString::number(r + 1),
            QString::number(r % 1024 + 1),
            cc ? "CC" : "Note",
            cc ? "7" : "60 / C4",
            r % 3 ? QString::number(r % 16 + 1) : "ALL",
            "OFF",
            "OFF",
            "5",
            "OFF",
            "ON"};
}

void fillFullTable(RuleModel &m)
{
    m.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        const QStringList cells = ruleCells(r);
        for (int c = 0; c < cells.size(); ++c)
            m.setText(r, c, cells[c]);
    }
}

struct WindowFixture {
    QTemporaryDir dir;
    Answers answers;
    Widget *w = nullptr;
    WindowFixture()
    {
        QDir::setCurrent(dir.path());
        installDialogs(&answers);
        w = new Widget;
        w->resize(1600, 1000);
        w->show();
        QCoreApplication::processEvents();
    }
    ~WindowFixture()
    {
        delete w;
        installDialogs(nullptr);
    }
    // A full table with a remark on every third rule; `which` varies the remarks.
    QString workbook(int which = 0)
    {
        const QString path = dir.filePath(QStringLiteral("full-%1.xlsx").arg(which));
        RuleModel rules;
        fillFullTable(rules);
        RemarkModel remarks;
        for (int r = 0; r < kRuleRows; r += 3)
            remarks.setText(r, 0, QStringLiteral("Fixture %1 %2").arg(r).arg(which));
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        doc.saveAs(path);
        return path;
    }
};

// The baseline: a bare table view over a plain item model, filled with the same texts and
// painted.
void BM_BareTableViewFilledAndPainted(benchmark::State &state)
{
    QTableView view;
    view.resize(1600, 900);
    view.show();
    QCoreApplication::processEvents();
    PaintWatch watch(view.viewport());
    for (auto _ : state) {
        QStandardItemModel model(0, kRuleColumns);
        watch.painted = false;
        for (int r = 0; r < kRuleRows; ++r) {
            QList<QStandardItem *> items;
            for (const QString &text : ruleCells(r))
                items << new QStandardItem(text);
            model.appendRow(items);
        }
        view.setModel(&model);
        watch.waitForPaint();
        view.setModel(nullptr);
    }
}
BENCHMARK(BM_BareTableViewFilledAndPainted)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// Open File: the file dialog has been accepted; until the new rows are painted. Two
// workbooks take turns, so every open changes the remarks too.
void BM_OpenFileToRowsPainted(benchmark::State &state)
{
    WindowFixture f;
    const QString workbooks[2] = {f.workbook(0), f.workbook(1)};
    PaintWatch watch(f.w->tableView()->viewport());
    int turn = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.w->ruleModel()->removeRows(0, f.w->ruleModel()->rowCount());
        QCoreApplication::processEvents();
        watch.painted = false;
        f.answers.file = workbooks[turn++ % 2];
        state.ResumeTiming();
        f.w->open_midi_file();
        watch.waitForPaint();
    }
    if (f.w->ruleModel()->rowCount() != kRuleRows)
        state.SkipWithError("table not filled");
}
BENCHMARK(BM_OpenFileToRowsPainted)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// Save File As...: the file dialog has been accepted; until the message says it is saved.
void BM_SaveFileToMessage(benchmark::State &state)
{
    WindowFixture f;
    fillFullTable(*f.w->ruleModel());
    f.w->resetRemarkColumn(kRuleRows);  // as Connect does: the remark view gets its model
    f.answers.file = f.dir.filePath("saved.xlsx");
    for (auto _ : state)
        f.w->save_As_file();
    if (!QFile::exists(f.answers.file))
        state.SkipWithError(qPrintable("nothing saved: " + f.answers.last));
}
BENCHMARK(BM_SaveFileToMessage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// Read: the last piece of the box's table image has arrived; until the rows are painted.
void BM_ReadLastByteToRowsPainted(benchmark::State &state)
{
    WindowFixture f;
    RuleModel source;
    fillFullTable(source);
    const QByteArray image = encodeTableImage(source);
    ReceiveDispatcher *dispatcher = &f.w->serialPort()->conversation()->dispatcher();
    PaintWatch watch(f.w->tableView()->viewport());
    // Rows arrive through queued calls; a paint counts once the last of them is in.
    QObject::connect(f.w->ruleModel(), &QAbstractItemModel::rowsInserted, [&watch] { watch.painted = false; });
    for (auto _ : state) {
        state.PauseTiming();
        f.w->ruleModel()->removeRows(0, f.w->ruleModel()->rowCount());
        QCoreApplication::processEvents();
        dispatcher->feed(image.left(image.size() - 64));
        QCoreApplication::processEvents();
        watch.painted = false;
        state.ResumeTiming();
        dispatcher->feed(image.right(64));
        while (f.w->ruleModel()->rowCount() < kRuleRows || !watch.painted)
            QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_ReadLastByteToRowsPainted)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace
