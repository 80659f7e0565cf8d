// The light preview window with the editor: a full reload of the panels on a full table
// (against the reload as first designed, which asks the whole table about every CC rule),
// large edits with the preview open, a fader swept through its 128 values as fast as
// events arrive, counting the stage's and the strip's frames and timing the longest, and a
// key pressed in the editor's preview until the stage repaints the fixture it lit.

#include "app/ui/widget.h"
#include "common/ui/dialogs.h"
#include "device/ui/settingsdialogs.h"
#include "jackreceiver.h"
#include "jackserver.h"
#include "midi/ui/keyboardwidget.h"
#include "midi/core/midibackend.h"
#include "midi/ui/midikeybutton.h"
#include "midi/ui/midioutputpanel.h"
#include "midi/core/qmidiout.h"
#include "preview/ui/ccfaders.h"
#include "preview/core/framelimiter.h"
#include "preview/ui/lightform.h"
#include "preview/core/previewforwarder.h"
#include "preview/ui/stagecontroller.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/tableviews.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsView>
#include <QImage>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
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

// Message boxes answered at once, so nothing waits for a user; file dialogs choose `file`.
class QuietDialogs final : public DialogSeam {
public:
    QString file;
    QMessageBox::StandardButton message(const MessageRequest &) override { return QMessageBox::Ok; }
    QString fileName(const FileRequest &) override { return file; }
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
        const QStringList cells = {QString::number(r % 1024 + 1),
                                   cc ? "CC" : (r % 4 == 1 ? "Note" : "AT"),
                                   cc ? QString::number(n) : noteText(n),
                                   r % 3 ? QString::number(r % 16 + 1) : "ALL",
                                   "OFF",
                                   "OFF",
                                   "OFF",
                                   "OFF",
                                   r % 5 ? "ON" : "OFF"};
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
    view->selectionModel()->select(
        QItemSelection(view->model()->index(first, ColSn), view->model()->index(last, ColSn)),
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

// Notes the first paint of a widget after a moment.
class FirstPaint : public QObject {
public:
    QElapsedTimer clock;
    qint64 paintedNs = -1;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && paintedNs < 0)
            paintedNs = clock.nsecsElapsed();
        return false;
    }
};

// A key of the Note keyboard pressed with the mouse in the editor's preview, shown as
// "test" shows it, its MIDI going out to a port on a JACK server of its own: the time from
// the press event to the stage's repaint request for the fixture it lit (and, as a
// counter, to the stage's paint). The rule is the table's last row, below `range(0) - 1`
// other rules (every other one a CC rule), so the lookups walk the whole table; argument 1
// is the baseline with that one rule alone. Every press is followed by its release (not
// timed), and the next press comes once the stage has been quiet for two frame intervals:
// within a burst of changes the stage's frame pacing (50 frames a second) may hold a
// repaint up to 20 ms by design.
void BM_KeyPressToRepaint(benchmark::State &state)
{
    test::JackServer server;
    QString error;
    if (test::JackServer::executable().isEmpty() || !server.start(&error)) {
        state.SkipWithError(error.isEmpty() ? "jackd is not installed" : qPrintable(error));
        return;
    }
    test::JackReceiver receiver(QStringLiteral("bench-preview"));
    QuietDialogs quiet;
    installDialogs(&quiet);
    {
        Editor e;
        RuleModel &rules = *e.w->ruleModel();
        fillHalfCc(rules, int(state.range(0)) - 1);
        const int last = kRuleRows - 1;
        const QStringList rule = {"500", "Note", "64 / E3", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"};
        for (int c = 0; c < rule.size(); ++c)
            rules.setText(last, ColDmx + c, rule.at(c));
        e.w->cofDialog()->findChild<QComboBox *>()->setCurrentIndex(1);
        e.settle();
        e.w->on_pushButton_4_clicked();  // "test"
        light_Form &form = *e.w->lightForm();
        form.resize(1366, 768);

        // The lamp: red and brightness on the rule's DMX channel, clicked last.
        LightFixture lamp;
        lamp.fixtureName = QStringLiteral("Bench lamp");
        lamp.selectedChannels = {FixtureChannel{last + 1, 500, QStringLiteral("Dimmer"), 0}};
        lamp.brightnessChannel = lamp.redChannel = 500;
        form.core().registry().addFixture(lamp);
        const QMap<QString, int> roles{{QStringLiteral("Brightness"), 500}, {QStringLiteral("Red"), 500}};
        form.core().stage().addRecord(
            {lamp.fixtureName, {SelectedChannel{QString::number(last + 1), 500, "Dimmer"}}, roles});
        form.stageController()->addFixtureItem(lamp.fixtureName, roles, true, QString(), QPointF(100, 100));
        form.core().selectFixture(lamp.fixtureName);
        form.showFixtureDetails(lamp.fixtureName);

        form.midiPanel()->scanConnectionList();
        form.comboBox->setCurrentIndex(form.comboBox->findText(receiver.portName()));
        form.pushButton_5->click();
        MidiKeyButton *key = form.noteKeyboard->keyForNote(64);
        if (!form.midiPanel()->midiConnected() || !key->mapped) {
            state.SkipWithError("the preview is not connected or the key is not mapped");
            installDialogs(nullptr);
            return;
        }
        const auto idle = [](int ms) {
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < ms)
                QCoreApplication::processEvents();
        };
        idle(100);

        FirstPaint paint;
        form.graphicsView->viewport()->installEventFilter(&paint);
        // When the level landed on the fixtures (the engine's part of the press).
        qint64 levelNs = -1;
        QObject::connect(&form.core().engine(), &PreviewEngine::levelApplied, &form, [&] {
            if (levelNs < 0)
                levelNs = paint.clock.nsecsElapsed();
        });
        double levelMs = 0;
        const QPoint bottom(5, key->height());
        double paintMs = 0;
        int lit = 0;
        for (auto _ : state) {
            const int frames = form.stageFrames()->frames();
            paint.paintedNs = -1;
            QMouseEvent press(QEvent::MouseButtonPress, bottom, key->mapToGlobal(bottom), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            paint.clock.start();
            levelNs = -1;
            QApplication::sendEvent(key, &press);
            while (form.stageFrames()->frames() == frames)
                QCoreApplication::processEvents();
            const qint64 requestNs = paint.clock.nsecsElapsed();
            while (paint.paintedNs < 0 && paint.clock.elapsed() < 1000)
                QCoreApplication::processEvents();
            state.SetIterationTime(requestNs / 1e9);
            levelMs += levelNs / 1e6;
            paintMs += paint.paintedNs / 1e6;
            lit += form.core().registry().fixtureColor(lamp.fixtureName) != QColor(Qt::black);

            QMouseEvent release(QEvent::MouseButtonRelease, bottom, key->mapToGlobal(bottom), Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(key, &release);
            // The release's own frame, then a quiet spell of more than a frame interval.
            const int releaseFrames = form.stageFrames()->frames();
            while (form.stageFrames()->frames() == releaseFrames)
                QCoreApplication::processEvents();
            idle(2 * FrameLimiter::kDefaultIntervalMs);
        }
        form.graphicsView->viewport()->removeEventFilter(&paint);
        state.counters["to_paint_ms"] = paintMs / double(state.iterations());
        state.counters["lit"] = lit / double(state.iterations());
        state.counters["to_level_ms"] = levelMs / double(state.iterations());
        state.counters["midi_received"] = double(receiver.messages().size());
    }
    installDialogs(nullptr);
}
BENCHMARK(BM_KeyPressToRepaint)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(100)
    ->Arg(kRuleRows)
    ->Arg(1);

// A project of 200 fixtures of four channels, each with the same small picture, opened
// with "Open Project" in the preview window (read, checked, registry, records and the 200
// stage items with their pictures) and saved again with "Save Project".
struct ProjectWindow {
    QTemporaryDir dir;
    RuleModel rules;
    RemarkModel remarks;
    QuietDialogs dialogs;
    std::unique_ptr<light_Form> form;
    QString path;

    ProjectWindow()
    {
        QDir::setCurrent(dir.path());
        QDir().mkpath(QStringLiteral("pix"));
        QImage picture(64, 64, QImage::Format_RGB32);
        picture.fill(QColor(200, 120, 40));
        picture.save(QStringLiteral("pix/par.png"));
        QString json = QStringLiteral("[");
        for (int i = 0; i < 200; ++i) {
            QString channels;
            for (int k = 0; k < 4; ++k) {
                const int sn = i * 4 + k + 1;
                channels += QStringLiteral("%1{\"dmxCH\": %2, \"remark\": \"ch %3\", \"sn\": \"%4\"}")
                                .arg(k ? "," : "")
                                .arg((sn - 1) % 1024 + 1)
                                .arg(k)
                                .arg(sn);
            }
            const int dmx = i * 4 % 1024 + 1;
            json += QStringLiteral("%1{\"Pixmap\": \"pix/par.png\", \"channelBindings\": {\"Blue\": %2, "
                                   "\"Brightness\": %3, \"Green\": %4, \"Red\": %5}, \"fixtureName\": "
                                   "\"Fixture %6\", \"selectedChannels\": [%7]}")
                        .arg(i ? "," : "")
                        .arg(dmx + 2)
                        .arg(dmx + 3)
                        .arg(dmx + 1)
                        .arg(dmx)
                        .arg(i, 3, 10, QLatin1Char('0'))
                        .arg(channels);
        }
        path = dir.filePath(QStringLiteral("show.json"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write((json + "]").toUtf8());
        fillHalfCc(rules);
        form = std::make_unique<light_Form>(nullptr, new QMidiOut(std::make_unique<NullMidi>()));
        form->setRuleModel(&rules);
        form->setRemarkModel(&remarks);
        dialogs.file = path;
        installDialogs(&dialogs);
    }
    ~ProjectWindow()
    {
        form.reset();
        installDialogs(nullptr);
        GlobalData::instance().clearFixtures();
        GlobalData::instance().clearSnMappings();
        GlobalData::instance().clearUsedSNs();
    }
};

void BM_OpenProjectInWindow(benchmark::State &state)
{
    ProjectWindow p;
    for (auto _ : state) {
        p.form->on_pushButton_4_clicked();
        if (p.form->stageController()->fixtureItems().size() != 200)
            state.SkipWithError("the project did not open");
    }
}
BENCHMARK(BM_OpenProjectInWindow)->Unit(benchmark::kMillisecond);

void BM_SaveProjectInWindow(benchmark::State &state)
{
    ProjectWindow p;
    p.form->on_pushButton_4_clicked();
    if (p.form->projectPath() != p.path) {
        state.SkipWithError("the project did not open");
        return;
    }
    for (auto _ : state)
        p.form->on_pushButton_3_clicked();
}
BENCHMARK(BM_SaveProjectInWindow)->Unit(benchmark::kMillisecond);

}  // namespace
