// The preview's core on a full rule table: a reload (snapshots, faders, key marks), a key
// press to the fixtures' new level, the fixtures following a large edit of the table,
// opening and saving a project of 200 fixtures, and fades on the program's real timers.

#include "common/core/scheduler.h"
#include "preview/core/fixturedetailsmodel.h"
#include "preview/core/fixtureproject.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/fixturestage.h"
#include "preview/core/midimessagelog.h"
#include "preview/core/midisender.h"
#include "preview/core/previewengine.h"
#include "preview/core/rulesnapshots.h"
#include "ruletables.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace vl;

namespace {

// 3072 rules: every other one a CC rule (controllers 0 … 127 over and over, channels "ALL"
// and 1 … 16, one in three disabled), the others Note and AT rules. With allCc every rule
// is a CC rule on "ALL", the case where every fader asks for the Enable of its rules.
void fillFullTable(RuleModel &rules, bool allCc = false)
{
    QList<QStringList> rows;
    rows.reserve(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        const bool cc = allCc || r % 2 == 0;
        const QString status = cc ? "CC" : (r % 4 == 1 ? "Note" : "AT");
        const int number = (r / 2) % 128;
        const QString ctl = cc ? QString::number(number) : QStringLiteral("%1 / C4").arg(number);
        const QString ch = allCc || r % 17 == 0 ? QStringLiteral("ALL") : QString::number(r % 17);
        rows.append({QString::number(r + 1), QString::number(r % 1024 + 1), status, ctl, ch, r % 5 ? "OFF" : "200",
                     "OFF", "OFF", "OFF", r % 3 ? "ON" : "OFF"});
    }
    test::fillRuleTable(rules, rows);
}

// 200 fixtures of four channels each, on the rules' rows.
void fillFixtures(GlobalData &registry, FixtureStage &stage)
{
    for (int i = 0; i < 200; ++i) {
        LightFixture f;
        f.fixtureName = QStringLiteral("Fixture %1").arg(i, 3, 10, QLatin1Char('0'));
        FixtureRecord record{f.fixtureName, {}, {}};
        for (int k = 0; k < 4; ++k) {
            const int sn = i * 4 + k + 1;
            const int dmx = (sn - 1) % 1024 + 1;
            f.selectedChannels.append({sn, dmx, QStringLiteral("ch %1").arg(k), 0});
            record.channels.append({QString::number(sn), dmx, QStringLiteral("ch %1").arg(k)});
            registry.addUsedSN(QString::number(sn));
            registry.setSnFixture(QString::number(sn), f.fixtureName);
        }
        f.redChannel = f.selectedChannels.at(0).dmxCH;
        f.greenChannel = f.selectedChannels.at(1).dmxCH;
        f.blueChannel = f.selectedChannels.at(2).dmxCH;
        f.brightnessChannel = f.selectedChannels.at(3).dmxCH;
        record.bindings = {{"Red", f.redChannel},
                           {"Green", f.greenChannel},
                           {"Blue", f.blueChannel},
                           {"Brightness", f.brightnessChannel}};
        registry.addFixture(f);
        stage.addRecord(record);
    }
}

class NullSender final : public MidiSender {
public:
    bool midiConnected() const override { return true; }
    void sendMidi(MidiEventKind, int, int, int) override {}
};

// Arg 0: half the rules CC; arg 1: all of them CC on "ALL".
void BM_FullReload(benchmark::State &state)
{
    RuleModel rules;
    fillFullTable(rules, state.range(0) == 1);
    RuleSnapshots snapshots;
    snapshots.setRuleModel(&rules);
    for (auto _ : state) {
        snapshots.rebuild();
        benchmark::DoNotOptimize(snapshots.faderStates(1));
        benchmark::DoNotOptimize(snapshots.noteKeyMarks(1));
        benchmark::DoNotOptimize(snapshots.atKeyMarks(1));
    }
}
BENCHMARK(BM_FullReload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Baseline: the same reload with the faders decided as a plain walk, asking every matching
// rule's Enable of the whole table (about ten million cell reads).
void BM_FullReloadTableWalk(benchmark::State &state)
{
    RuleModel rules;
    fillFullTable(rules, state.range(0) == 1);
    RuleSnapshots snapshots;
    snapshots.setRuleModel(&rules);
    const auto enabled = [&](const QString &sta, const QString &ctl) {
        for (int r = 0; r < rules.rowCount(); ++r) {
            if (rules.isEmptyCell(r, ColSta) || rules.isEmptyCell(r, ColCtl) || rules.isEmptyCell(r, ColCh))
                continue;
            if (rules.text(r, ColSta) == sta && rules.text(r, ColCtl) == ctl && rules.text(r, ColEnable) == "ON")
                return true;
        }
        return false;
    };
    for (auto _ : state) {
        snapshots.rebuild();
        FaderStates states{};
        for (int fader = 0; fader < kMidiNumbers; ++fader) {
            for (const RuleSnapshot &row : snapshots.ccRuleRows()) {
                if (row.sta != "CC" || row.ctl.toInt() != fader)
                    continue;
                states[size_t(fader)] = {true, false};
                if (row.ch.toInt() == 1 || row.ch == "ALL")
                    states[size_t(fader)].enabled = enabled(row.sta, row.ctl);
            }
        }
        benchmark::DoNotOptimize(states);
        benchmark::DoNotOptimize(snapshots.noteKeyMarks(1));
        benchmark::DoNotOptimize(snapshots.atKeyMarks(1));
    }
}
BENCHMARK(BM_FullReloadTableWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// The fader decisions after edits since the last reload (the enabled-rule index is rebuilt
// once, then answers in O(1)).
void BM_FadersAfterAnEdit(benchmark::State &state)
{
    RuleModel rules;
    fillFullTable(rules);
    RuleSnapshots snapshots;
    snapshots.setRuleModel(&rules);
    snapshots.rebuild();
    int flip = 0;
    for (auto _ : state) {
        rules.setText(0, ColEnable, (++flip % 2) ? "OFF" : "ON");
        benchmark::DoNotOptimize(snapshots.faderStates(1));
    }
}
BENCHMARK(BM_FadersAfterAnEdit)->Unit(benchmark::kMillisecond);

// A key press on a full table: MIDI out, log row, the rules, the level on 200 fixtures
// and the details panel.
void BM_KeyPressToLevel(benchmark::State &state)
{
    RuleModel rules;
    fillFullTable(rules);
    RuleSnapshots snapshots;
    snapshots.setRuleModel(&rules);
    snapshots.rebuild();
    GlobalData registry;
    FixtureStage stage(registry);
    fillFixtures(registry, stage);
    FixtureDetailsModel details;
    details.setChannels(registry.fixture("Fixture 000").selectedChannels);
    MidiMessageLog log;
    NullSender sender;
    ManualScheduler clock;
    PreviewEngine engine(registry, clock);
    engine.setRuleModel(&rules);
    engine.setSnapshots(&snapshots);
    engine.setDetailsModel(&details);
    engine.setMidiSender(&sender);
    engine.setMessageLog(&log);
    engine.setPreviewCoefficient(2.0);
    engine.setCurrentFixture("Fixture 000");
    int velocity = 0;
    for (auto _ : state) {
        velocity = velocity % 127 + 1;
        engine.keyPressed(PreviewKeyboard::Note, 5, velocity, true);
        if (log.rowCount() > 10000) {
            state.PauseTiming();
            log.clear();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_KeyPressToLevel)->Unit(benchmark::kMicrosecond);

// Deleting two rows near the top of a full table forwards 15 337 single-cell changes; the
// fixtures follow each, then the rows, then the full refresh.
void BM_FixturesFollowALargeEdit(benchmark::State &state)
{
    RuleModel rules;
    fillFullTable(rules);
    for (auto _ : state) {
        state.PauseTiming();
        GlobalData registry;
        FixtureStage stage(registry);
        stage.setRuleModel(&rules);
        fillFixtures(registry, stage);
        state.ResumeTiming();
        int forwarded = 0;
        for (int r = 2; r < kRuleRows && forwarded < 15337; ++r)
            for (int c = ColDmx; c <= ColEnable && forwarded < 15337; ++c, ++forwarded)
                stage.ruleCellChanged(r, c, rules.text(r, c));
        stage.ruleRowsDeleted(2, 3);
        stage.refreshFixtureDmxChannels();
    }
}
BENCHMARK(BM_FixturesFollowALargeEdit)->Unit(benchmark::kMillisecond);

QString projectPath()
{
    static QTemporaryDir dir;
    return dir.filePath("show.json");
}

void BM_SaveProject200(benchmark::State &state)
{
    GlobalData registry;
    FixtureStage stage(registry);
    fillFixtures(registry, stage);
    QHash<QString, QString> pictures;
    for (const QString &name : registry.fixtureNames())
        pictures.insert(name, "pix/par.png");
    for (auto _ : state) {
        const ProjectWrite w = writeProjectFile(projectPath(), projectJson(registry, pictures, true));
        if (!w.ok)
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveProject200)->Unit(benchmark::kMillisecond);

void BM_OpenProject200(benchmark::State &state)
{
    {
        GlobalData registry;
        FixtureStage stage(registry);
        fillFixtures(registry, stage);
        writeProjectFile(projectPath(), projectJson(registry, {}, true));
    }
    GlobalData registry;
    FixtureStage stage(registry);
    for (auto _ : state) {
        const ProjectRead read = readProjectFile(projectPath());
        if (!read.ok || read.fixtures.size() != 200)
            state.SkipWithError("open failed");
        applyProject(read.fixtures, stage);
    }
}
BENCHMARK(BM_OpenProject200)->Unit(benchmark::kMillisecond);

// 128 fades of 51 steps (Fade In 5, 0 → 255) at once on the program's timers: the time
// from the press to the last one's arrival, against 51 × 50 ms.
void BM_RealTimerFades(benchmark::State &state)
{
    RuleModel rules;
    rules.setRowCount(128);
    for (int n = 0; n < 128; ++n) {
        const QStringList cells = {QString::number(n + 1),
                                   QString::number(n + 1),
                                   "CC",
                                   QString::number(n),
                                   "ALL",
                                   "255",
                                   "5",
                                   "5",
                                   "OFF",
                                   "ON"};
        for (int c = 0; c < cells.size(); ++c)
            rules.setText(n, c, cells[c]);
    }
    RuleSnapshots snapshots;
    snapshots.setRuleModel(&rules);
    snapshots.rebuild();
    double worst = 0;
    for (auto _ : state) {
        GlobalData registry;
        LightFixture f;
        f.fixtureName = "all";
        for (int n = 0; n < 128; ++n)
            f.selectedChannels.append({n + 1, n + 1, QString(), 0});
        registry.addFixture(f);
        PreviewEngine engine(registry, systemScheduler());
        engine.setRuleModel(&rules);
        engine.setSnapshots(&snapshots);
        engine.setCurrentFixture("all");
        int arrived = 0;
        QEventLoop loop;
        QElapsedTimer clock;
        QObject::connect(&engine, &PreviewEngine::levelApplied, &loop, [&](int, int level) {
            if (level == 255 && ++arrived == 128)
                loop.quit();
        });
        clock.start();
        for (int n = 0; n < 128; ++n)
            engine.driveController(n, 1);
        loop.exec();
        const double ms = clock.nsecsElapsed() / 1e6;
        state.SetIterationTime(ms / 1000.0);
        worst = qMax(worst, ms / (51 * 50.0));
    }
    state.counters["ratio_to_2550ms"] = worst;
}
BENCHMARK(BM_RealTimerFades)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
