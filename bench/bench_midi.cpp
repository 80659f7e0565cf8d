// Timings of the MIDI path: a key press on the on-screen keyboard to the message leaving
// through RtMidi (with a private JACK server and a receiving port), and painting a whole
// keyboard at the size the preview gives it.

#include "common/ui/dialogs.h"
#include "jackserver.h"
#include "midi/ui/keyboardwidget.h"
#include "midi/ui/midikeybutton.h"
#include "midi/ui/midioutputpanel.h"
#include "midi/core/qmidiout.h"

#include <RtMidi.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>

using namespace vl;

namespace {

// The preview's keyboards on a 1920 px wide screen.
const QSize kPreviewKeyboard(1920 - 42, 95);

// Answers every message box at once.
class SilentDialogs final : public DialogSeam {
public:
    QMessageBox::StandardButton message(const MessageRequest &) override { return QMessageBox::Ok; }
    QString fileName(const FileRequest &) override { return {}; }
    InputAnswer inputText(const InputRequest &) override { return {}; }
    int runDialog(QDialog *) override { return 0; }
};

std::atomic<long> received{0};

void countMessage(double, std::vector<unsigned char> *, void *) { ++received; }

// A keyboard wired to an output port the way the preview wires it, on a JACK server of
// its own with one receiving port.
struct LivePath {
    test::JackServer server;
    std::unique_ptr<RtMidiIn> receiver;
    QWidget window;
    QComboBox *combo = new QComboBox(&window);
    QPushButton *button = new QPushButton("Connect", &window);
    KeyboardWidget *keyboard = new KeyboardWidget(&window);
    MidiOutputPanel *panel = nullptr;
    QString error;

    bool start()
    {
        if (test::JackServer::executable().isEmpty()) {
            error = "jackd is not installed";
            return false;
        }
        if (!server.start(&error))
            return false;
        receiver = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "bench-receiver");
        receiver->openVirtualPort("in");
        receiver->setCallback(countMessage);
        panel = new MidiOutputPanel(combo, button, &window, new QMidiOut(MidiSystem::Jack), &window);
        panel->setKeyboards({keyboard});
        panel->scanConnectionList();
        combo->setCurrentIndex(combo->findText("bench-receiver:in"));
        button->click();
        if (!panel->midiConnected()) {
            error = "the receiving port did not open";
            return false;
        }
        QObject::connect(keyboard, &KeyboardWidget::noteOn, panel,
                         [p = panel](int note, int velocity) { p->sendNoteMessage(1, note, velocity); });
        QObject::connect(keyboard, &KeyboardWidget::noteOff, panel,
                         [p = panel](int note, int) { p->sendNoteMessage(1, note, 0); });
        keyboard->setFixedSize(kPreviewKeyboard);
        MidiKeyButton *key = keyboard->keyForNote(60);
        key->mapped = true;
        key->keyColor = MidiKeyButton::mappedColor;
        return true;
    }
};

LivePath *live = nullptr;

// JACK takes the queued messages once per period (5.3 ms here) and RtMidi's queue holds
// about 2000 of them; a pause after every 1024 messages keeps the queue from filling, so
// only the editor's own work is measured (the pauses are outside the measured time).
void pace(long messages)
{
    if (messages % 1024 == 0)
        QThread::msleep(6);
}

// Mouse press on a key -> noteOn -> note message packed, checked and handed to RtMidi.
void BM_KeyPressToSend(benchmark::State &state)
{
    if (!live) {
        state.SkipWithError("no JACK server");
        return;
    }
    MidiKeyButton *key = live->keyboard->keyForNote(60);
    const QPointF at(10, 40);
    long i = 0;
    const long before = received;
    for (auto _ : state) {
        QMouseEvent press(QEvent::MouseButtonPress, at, key->mapToGlobal(at.toPoint()), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        const auto t0 = std::chrono::steady_clock::now();
        QCoreApplication::sendEvent(key, &press);
        const auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());

        QMouseEvent release(QEvent::MouseButtonRelease, at, key->mapToGlobal(at.toPoint()), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(key, &release);
        i += 2;
        pace(i);
    }
    QThread::msleep(20);
    state.counters["received"] = double(received - before);
}
BENCHMARK(BM_KeyPressToSend)->UseManualTime()->Iterations(200000)->Unit(benchmark::kMicrosecond);

// The send alone: range checks, packing and RtMidi's JACK queue.
void BM_SendNoteMessage(benchmark::State &state)
{
    if (!live) {
        state.SkipWithError("no JACK server");
        return;
    }
    long i = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        live->panel->sendNoteMessage(1, 60, int(i % 127) + 1);
        const auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        pace(++i);
    }
}
BENCHMARK(BM_SendNoteMessage)->UseManualTime()->Iterations(400000)->Unit(benchmark::kMicrosecond);

// The port list refresh that runs every second: with the JACK server and its one port.
void BM_ScanConnectionList(benchmark::State &state)
{
    if (!live) {
        state.SkipWithError("no JACK server");
        return;
    }
    for (auto _ : state)
        live->panel->scanConnectionList();
    state.counters["ports"] = live->combo->count();
}
BENCHMARK(BM_ScanConnectionList)->Unit(benchmark::kMicrosecond);

// The same refresh where no JACK server runs: one failed attempt to reach a server.
void BM_ListDevicesWithoutServer(benchmark::State &state)
{
    const QByteArray previous = qgetenv("JACK_DEFAULT_SERVER");
    qputenv("JACK_DEFAULT_SERVER", "bench-no-such-server");
    QMidiOut out(MidiSystem::Jack);
    for (auto _ : state)
        benchmark::DoNotOptimize(out.listDevices());
    qputenv("JACK_DEFAULT_SERVER", previous);
}
BENCHMARK(BM_ListDevicesWithoutServer)->Unit(benchmark::kMicrosecond);

// One frame of a whole keyboard at the preview's size, with some keys marked.
void BM_PaintKeyboard(benchmark::State &state)
{
    KeyboardWidget keyboard;
    keyboard.setMinimumSize(0, 0);
    keyboard.resize(kPreviewKeyboard);
    for (int note = 36; note < 96; note += 3)
        keyboard.keyForNote(note)->keyColor = MidiKeyButton::mappedColor;
    QImage frame(kPreviewKeyboard, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        keyboard.render(&frame);
        benchmark::DoNotOptimize(frame.constBits());
    }
}
BENCHMARK(BM_PaintKeyboard)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SilentDialogs silent;
    installDialogs(&silent);
    benchmark::Initialize(&argc, argv);

    LivePath path;
    if (path.start())
        live = &path;
    else
        fprintf(stderr, "MIDI send benchmarks skipped: %s\n", qPrintable(path.error));

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    live = nullptr;
    installDialogs(nullptr);
    return 0;
}
