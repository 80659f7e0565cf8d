// The DMX output against a private OLA daemon (started here as the tests start it): a key
// press on a full table until its frame has been written to the daemon, what one frame
// costs, and the CPU time of a fader sweep over 100 lit fixtures with the output on beside
// the same sweep with it off, in the same iterations.

#include "common/core/scheduler.h"
#include "oladaemon.h"
#include "preview/core/dmxoutput.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/midisender.h"
#include "preview/core/previewengine.h"
#include "preview/core/rulesnapshots.h"
#include "preview/ola/oladmxclient.h"
#include "ruletables.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

using namespace vl;

namespace {

using Clock = std::chrono::steady_clock;

test::OlaDaemon *g_olad = nullptr;

// The daemon, started once for the whole run; null (with the reason) where it cannot run.
test::OlaDaemon *daemon(benchmark::State &state)
{
    static QString failed;
    if (!g_olad && failed.isEmpty()) {
        failed = test::OlaDaemon::unavailable();
        if (failed.isEmpty()) {
            auto olad = std::make_unique<test::OlaDaemon>();
            if (olad->start(&failed))
                g_olad = olad.release();
        }
    }
    if (!g_olad)
        state.SkipWithError(qPrintable(failed));
    return g_olad;
}

// 3072 rules, the first 3071 of them for other notes and controllers; the last one is note
// 60 on DMX 1. With `alone`, only that rule.
void fillTable(RuleModel &rules, bool alone)
{
    QList<QStringList> rows;
    const int count = alone ? 1 : kRuleRows;
    for (int r = 0; r < count - 1; ++r) {
        const bool cc = r % 2 == 0;
        const int number = (r / 2) % 128;
        const QString status = cc ? "CC" : (number == 60 ? "AT" : "Note");
        const QString ctl = cc ? QString::number(number) : QStringLiteral("%1 / C4").arg(number);
        rows.append({QString::number(r + 1), QString::number(r % 1024 + 1), status, ctl, "ALL", "OFF", "OFF", "OFF",
                     "OFF", "ON"});
    }
    rows.append({QString::number(count), "1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"});
    test::fillRuleTable(rules, rows);
}

class NullSender final : public MidiSender {
public:
    bool midiConnected() const override { return true; }
    void sendMidi(MidiEventKind, int, int, int) override {}
};

// OLA's client, noting when a frame has been handed to the daemon (written to its socket).
class TimedClient final : public DmxClient {
public:
    explicit TimedClient(quint16 port) : m_ola(port) {}
    Clock::time_point written;
    int frames = 0;
    bool connectToDaemon() override { return m_ola.connectToDaemon(); }
    void disconnectFromDaemon() override { m_ola.disconnectFromDaemon(); }
    bool isConnected() const override { return m_ola.isConnected(); }
    bool sendFrame(unsigned universe, const DmxFrame &levels) override
    {
        const bool ok = m_ola.sendFrame(universe, levels);
        written = Clock::now();
        ++frames;
        return ok;
    }

private:
    OlaDmxClient m_ola;
};

double threadCpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.at(std::min(v.size() - 1, size_t(p * double(v.size()))));
}

// A key of the Note keyboard pressed (MIDI out to nowhere, the rules, the level) until its
// frame has been written to olad. Between presses the key is released and the clock moves
// on past the frame pacing, so every press starts a frame of its own at once.
void BM_KeyPressToFrame(benchmark::State &state)
{
    test::OlaDaemon *olad = daemon(state);
    if (!olad)
        return;
    RuleModel rules;
    fillTable(rules, state.range(0) == 1);
    RuleSnapshots snapshots;
    snapshots.setRuleModel(&rules);
    snapshots.rebuild();
    GlobalData registry;
    ManualScheduler clock;
    PreviewEngine engine(registry, clock);
    NullSender sender;
    engine.setRuleModel(&rules);
    engine.setSnapshots(&snapshots);
    engine.setMidiSender(&sender);
    engine.setPreviewCoefficient(2.0);
    TimedClient client(olad->port());
    DmxOutput output(client, clock);
    QObject::connect(&engine, &PreviewEngine::levelApplied, &output, &DmxOutput::setLevel);
    output.setEnabled(true);
    if (output.state() != DmxOutput::State::Sending) {
        state.SkipWithError("the output did not reach olad");
        return;
    }
    std::vector<double> us;
    std::vector<double> cpuUs;
    for (auto _ : state) {
        clock.advance(100);
        const int frames = client.frames;
        const double cpuBefore = threadCpuUs();
        const Clock::time_point pressed = Clock::now();
        engine.keyPressed(PreviewKeyboard::Note, 60, 100, true);
        cpuUs.push_back(threadCpuUs() - cpuBefore);
        if (client.frames == frames) {
            state.SkipWithError("the press sent no frame");
            return;
        }
        us.push_back(std::chrono::duration<double, std::micro>(client.written - pressed).count());
        state.PauseTiming();
        engine.keyReleased(PreviewKeyboard::Note, 60, true);
        clock.advance(100);
        state.ResumeTiming();
    }
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters["p99_us"] = percentile(us, 0.99);
    state.counters["max_us"] = percentile(us, 1.0);
    state.counters["cpu_median_us"] = percentile(cpuUs, 0.5);
    state.counters["cpu_p99_us"] = percentile(cpuUs, 0.99);
}
BENCHMARK(BM_KeyPressToFrame)->Arg(kRuleRows)->Arg(1)->Iterations(1000)->Unit(benchmark::kMicrosecond);

// One frame of 512 levels written to olad by OLA's client: what each frame of the output
// costs the program beyond its levels.
void BM_SendFrame(benchmark::State &state)
{
    test::OlaDaemon *olad = daemon(state);
    if (!olad)
        return;
    OlaDmxClient client(olad->port());
    if (!client.connectToDaemon()) {
        state.SkipWithError("no connection to olad");
        return;
    }
    DmxFrame frame{};
    int n = 0;
    for (auto _ : state) {
        frame[size_t(n % 512)] = quint8(n);
        ++n;
        if (!client.sendFrame(1, frame)) {
            state.SkipWithError("olad went away");
            return;
        }
    }
}
BENCHMARK(BM_SendFrame)->Iterations(2000)->Unit(benchmark::kMicrosecond);

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// A fader swept 0 ... 127 and back, a new value every millisecond for 2 s of real time,
// on a full table; its DMX channel lights 100 fixtures. Each iteration sweeps with the
// output off, then with it on (the same engine, table and fixtures), so both figures come
// from the same moments of the machine: the process's CPU time for each sweep, real timers
// throughout (fades, pacing, idle frames).
void BM_FaderSweepCpu(benchmark::State &state)
{
    test::OlaDaemon *olad = daemon(state);
    if (!olad)
        return;
    RuleModel rules;
    fillTable(rules, false);
    rules.setText(0, ColDmx, "7");
    rules.setText(0, ColSta, "CC");
    rules.setText(0, ColCtl, "7");
    rules.setText(0, ColCh, "ALL");
    RuleSnapshots snapshots;
    snapshots.setRuleModel(&rules);
    snapshots.rebuild();
    GlobalData registry;
    for (int i = 0; i < 100; ++i) {
        LightFixture f;
        f.fixtureName = QStringLiteral("Par %1").arg(i);
        f.selectedChannels.append({1, 7, QStringLiteral("dimmer"), 0});
        f.brightnessChannel = 7;
        registry.addFixture(f);
    }
    PreviewEngine engine(registry, systemScheduler());
    engine.setRuleModel(&rules);
    engine.setSnapshots(&snapshots);
    engine.setPreviewCoefficient(2.0);
    TimedClient client(olad->port());
    DmxOutput output(client, systemScheduler());
    QObject::connect(&engine, &PreviewEngine::levelApplied, &output, &DmxOutput::setLevel);

    const auto sweep = [&] {
        QEventLoop loop;
        QTimer mouse;
        QElapsedTimer clock;
        int step = 0;
        QObject::connect(&mouse, &QTimer::timeout, [&] {
            const int v = step % 256 < 128 ? step % 128 : 127 - step % 128;
            engine.faderMoved(7, v);
            if (++step >= 2000 || clock.elapsed() >= 2000)
                loop.quit();
        });
        const double before = processCpuMs();
        clock.start();
        mouse.start(1);
        loop.exec();
        return processCpuMs() - before;
    };
    double off = 0;
    double on = 0;
    int frames = 0;
    for (auto _ : state) {
        output.setEnabled(false);
        off += sweep();
        output.setEnabled(true);
        if (output.state() != DmxOutput::State::Sending) {
            state.SkipWithError("the output did not reach olad");
            return;
        }
        const int before = client.frames;
        on += sweep();
        frames += client.frames - before;
    }
    output.setEnabled(false);
    const double n = double(state.iterations());
    state.counters["cpu_ms_off"] = off / n;
    state.counters["cpu_ms_on"] = on / n;
    state.counters["on_to_off"] = on / off;
    state.counters["frames_per_s"] = frames / n / 2.0;
}
BENCHMARK(BM_FaderSweepCpu)->Iterations(4)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete g_olad;
    return 0;
}
