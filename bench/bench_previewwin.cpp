// The light preview window with the editor: a full reload of the panels on a full table
// (against the reload as first designed, which asks the whole table about every CC rule),
// large edits with the preview open, and a fader swept through its 128 values as fast as
// events arrive, counting the stage's and the strip's frames and timing the longest.

#include "app/widget.h"
#include "common/dialogs.h"
#include "midi/midibackend.h"
#include "midi/midioutputpanel.h"
#include "midi/qmidiout.h"
#include "preview/ccfaders.h"
#include "preview/framelimiter.h"
#include "preview/lightform.h"
#include "preview/previewforwarder.h"
#include "preview/stagecontroller.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "table/tableviews.h"

#include <QApplication>
#include <QComboBox>
#include <QSlider>
#include <QDir>
#include <QElapsedTimer>
#include <QGraphicsView>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <memory>

using namespace vl;

namespace {

class NullMidi final : public MidiBackend {
public:
    QStringList portNames() override { return {QStringLiteral("Bench")}; }
    bool open(int, QString *) override { return true; }
    void close() override {}
    bool send(const QByteArray &, QString *) override { return true; }
};

// Message boxes answered at once, so nothing waits for a user.
class QuietDialogs final : public DialogSeam {
public:
    QMessageBox::StandardButton message(const MessageRequest &) override { return QMessageBox::Ok; }
    QString fileName(const FileRequest &) override { return {}; }
    InputAnswer inputText(const InputRequest &) override { return {}; }
    int runDialog(QDialog *) override { return 0; }
};

QString noteText(int n) { return QStringLiteral("%1 / C%2").arg(n).arg(n / 12 - 2); }

// 3072 rules, every other one a CC rule; Note and AT rules between them.
void fillHalfCc(RuleModel &m, int filledRows = kRuleRows)
{
    m.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        m.setText(r, ColSn, QString::number(r + 1));
        const bool cc = r % 2 == 0;
        const int n = (r * 7) % 128;
        const QStringList cells = {QString::number(r % 1024 + 1), cc ? "CC" : (r % 4 == 1 ? "Note" : "AT"),
                                   cc ? QString::number(n) : noteText(n), r % 3 ? QString::number(r % 16 + 1) : "ALL",
                                   "OFF", "OFF", "OFF", "OFF", r % 5 ? "ON" : "OFF"};
        for (int c = 0; c < cells.size(); ++c) {
            if (r < filledRows)
                m.setText(r, ColDmx + c, cells[c]);
            else
                m.clearCell(r, ColDmx + c);
        }
    }
}

void reload(light_Form &form)
{
    form.rebuildRuleSnapshots();
    form.refreshCcFaders();
    form.markNoteKeys();
    form.markAtKeys();
}

void BM_ReloadFullTable(benchmark::State &state)
{
    RuleModel rules;
    RemarkModel remarks;
    fillHalfCc(rules);
    light_Form form(nullptr, new QMidiOut(std::make_unique<NullMidi>()));
    form.setRuleModel(&rules);
    form.setRemarkModel(&remarks);
    reload(form);
    int flip = 0;
    for (auto _ : state) {
        // A different channel each time, so faders and keys really change.
        state.PauseTiming();
        form.comboBox_2->blockSignals(true);
        form.comboBox_2->setCurrentIndex(flip++ % 16);
        form.comboBox_2->blockSignals(false);
        form.core().setMidiChannel(form.midiChannel());
        state.ResumeTiming();
        reload(form);
    }
}
BENCHMARK(BM_ReloadFullTable)->Unit(benchmark::kMillisecond);

// The reload's fader pass as first designed: for every fader, every copied CC rule, and
// for every one that names the fader's controller a walk over the whole table.
void BM_ReloadFadersTableWalkBaseline(benchmark::State &state)
{
    RuleModel rules;
    fillHalfCc(rules);
    const int channel = 1;
    for (auto _ : state) {
        int enabled = 0;
        for (int controller = 0; controller < 128; ++controller) {
            for (int r = 0; r < rules.rowCount(); ++r) {
                if (rules.text(r, ColSta) != QLatin1String("CC") || rules.text(r, ColCtl).toInt() != controller)
                    continue;
                const QString ch = rules.text(r, ColCh);
                if (ch.toInt() != channel && ch != QLatin1String("ALL"))
                    continue;
                bool on = false;
                for (int t = 0; t < rules.rowCount() && !on; ++t) {
                    on = !rules.text(t, ColSta).isEmpty() && !rules.text(t, ColCtl).isEmpty()
                         && !rules.text(t, ColCh).isEmpty() && rules.text(t, ColSta) == QLatin1String("CC")
                         && rules.text(t, ColCtl) == rules.text(r, ColCtl)
                         && rules.text(t, ColEnable) == QLatin1String("ON");
                }
                enabled += on;
            }
        }
        benchmark::DoNotOptimize(enabled);
    }
}
BENCHMARK(BM_ReloadFadersTableWalkBaseline)->Unit(benchmark::kMillisecond)->Iterations(1);

// The editor with its light preview in a fresh working directory.
struct Editor {
    QTemporaryDir dir;
    std::unique_ptr<Widget> w;
    Editor()
    {
        QDir::setCurrent(dir.path());
        w = std::make_unique<Widget>();
    }
    // What a burst of changes costs until the preview shows the result: the queued cell
    // forwards, then the coalesced refresh (which the editor runs 200 ms later).
    void settle()
    {
        QCoreApplication::processEvents();
        w->previewForwarder()->refreshNow();
        QCoreApplication::processEvents();
    }
};

void selectSnRows(MyTableView *view, int first, int last)
{
    view->selectionModel()->select(QItemSelection(view->model()->index(first, ColSn), view->model()->index(last, ColSn)),
                                   QItemSelectionModel::ClearAndSelect);
}

// "Delete the current rows and move the next row up" on rows 5 … 6 of a full table, the
// preview following every moved cell and then reloading.
void BM_DeleteTwoRowsPreviewOpen(benchmark::State &state)
{
    Editor e;
    for (auto _ : state) {
        state.PauseTiming();
        fillHalfCc(*e.w->ruleModel());
        e.settle();
        selectSnRows(e.w->tableView(), 5, 6);
        state.ResumeTiming();
        e.w->tableView()->deleteRowsMoveUp();
        e.w->tableView()->renumberSn();
        e.settle();
    }
}
BENCHMARK(BM_DeleteTwoRowsPreviewOpen)->Unit(benchmark::kMillisecond)->Iterations(10);

// A drag fill from the first row down over the 3071 rows below it, preview open.
void BM_DragFillPreviewOpen(benchmark::State &state)
{
    Editor e;
    for (auto _ : state) {
        state.PauseTiming();
        fillHalfCc(*e.w->ruleModel(), 1);
        e.settle();
        state.ResumeTiming();
        e.w->tableView()->fillDownSeries(0, kRuleRows - 1, ColDmx);
        e.settle();
    }
}
BENCHMARK(BM_DragFillPreviewOpen)->Unit(benchmark::kMillisecond)->Iterations(10);

// Counts the paint events of the stage's viewport and of the strip's widgets.
class PaintCounter : public QObject {
public:
    int stagePaints = 0;
    int stripPaints = 0;
    QWidget *viewport = nullptr;
    QWidget *strip = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            if (watched == viewport)
                ++stagePaints;
            else if (auto *w = qobject_cast<QWidget *>(watched); w && strip && strip->isAncestorOf(w))
                ++stripPaints;
        }
        return false;
    }
};

// One fader swept 0 … 127 and back, a new value every millisecond (faster than any mouse
// reports), with the preview shown, a fixture on the stage and its details panel open,
// their level changing with every value. Argument: the frame interval (0: no pacing).
void BM_FaderSweep(benchmark::State &state)
{
    RuleModel rules;
    RemarkModel remarks;
    fillHalfCc(rules);
    rules.setText(0, ColCtl, QStringLiteral("7"));
    rules.setText(0, ColCh, QStringLiteral("ALL"));
    rules.setText(0, ColEnable, QStringLiteral("ON"));
    light_Form form(nullptr, new QMidiOut(std::make_unique<NullMidi>()));
    form.setRuleModel(&rules);
    form.setRemarkModel(&remarks);
    form.resize(1366, 768);
    form.show();
    reload(form);
    // A fixture on the fader's DMX channel, clicked last: its level changes with the fader.
    LightFixture lamp;
    lamp.fixtureName = QStringLiteral("Bench lamp");
    lamp.selectedChannels = {FixtureChannel{1, 1, QString(), 0}};
    lamp.brightnessChannel = 1;
    form.core().registry().addFixture(lamp);
    const QMap<QString, int> bindings{{QStringLiteral("Brightness"), 1}};
    form.core().stage().addRecord({lamp.fixtureName, {SelectedChannel{"1", 1, QString()}}, bindings});
    form.stageController()->addFixtureItem(lamp.fixtureName, bindings, true, QString(), QPointF(100, 100));
    form.core().selectFixture(lamp.fixtureName);
    form.showFixtureDetails(lamp.fixtureName);
    form.setCoefficient(2.0);
    QuietDialogs quiet;
    installDialogs(&quiet);
    form.midiPanel()->on_pushButton_5_clicked();
    QCoreApplication::processEvents();
    QSlider *slider = form.ccFaders().at(7).slider;
    // The baseline: repaints not paced, drawn after every event that changed something.
    const int interval = int(state.range(0));
    form.stageFrames()->setIntervalMs(interval);
    form.faderFrames()->setIntervalMs(interval);

    PaintCounter counter;
    counter.viewport = form.graphicsView->viewport();
    counter.strip = form.faderStrip;
    qApp->installEventFilter(&counter);

    double maxFrameMs = 0, seconds = 0;
    int stage = 0, strip = 0;
    for (auto _ : state) {
        counter.stagePaints = counter.stripPaints = 0;
        QElapsedTimer total;
        total.start();
        for (int step = 0; step < 256; ++step) {
            slider->setValue(step < 128 ? step : 255 - step);
            QElapsedTimer tick;
            tick.start();
            while (tick.nsecsElapsed() < 1000000) {
                const int stageBefore = counter.stagePaints;
                const int stripBefore = counter.stripPaints;
                QElapsedTimer pass;
                pass.start();
                QCoreApplication::processEvents();
                stage += counter.stagePaints > stageBefore;
                strip += counter.stripPaints > stripBefore;
                if (counter.stagePaints > stageBefore || counter.stripPaints > stripBefore)
                    maxFrameMs = std::max(maxFrameMs, pass.nsecsElapsed() / 1e6);
            }
        }
        // The last frame.
        QElapsedTimer tail;
        tail.start();
        while (tail.elapsed() < 40)
            QCoreApplication::processEvents();
        seconds += total.nsecsElapsed() / 1e9;
    }
    qApp->removeEventFilter(&counter);
    installDialogs(nullptr);
    // Frames: passes of the event loop that painted the stage, or the strip.
    state.counters["stage_frames_per_s"] = stage / seconds;
    state.counters["strip_frames_per_s"] = strip / seconds;
    state.counters["max_frame_ms"] = maxFrameMs;
}
BENCHMARK(BM_FaderSweep)->Unit(benchmark::kMillisecond)->Iterations(3)->Arg(FrameLimiter::kDefaultIntervalMs)->Arg(0);

}  // namespace
