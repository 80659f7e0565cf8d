#include "playcommand.h"

#include "common/core/oneline.h"
#include "common/core/safefile.h"
#include "common/core/scheduler.h"
#include "device/core/settingsframes.h"
#include "midi/core/smffile.h"
#include "preview/core/dmxoutput.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/previewengine.h"
#include "preview/core/rulesnapshots.h"
#include "preview/ola/oladmxclient.h"
#include "table/core/rulemodel.h"
#include "tablefiles.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QHash>
#include <QIODevice>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <unistd.h>

namespace vl::cli {

const char kPlayHelp[] = R"(Usage: varilume-cli play <file.xlsx> --midi <song.mid> [--dry-run] [--coefficient <c>]
                         [--universes <a>,<b>] [--no-blackout] [--ola-port <port>]

Plays a Standard MIDI File (format 0 or 1, every tempo change honoured) through the light
preview's engine with the workbook's rules: its notes, after-touch and controllers, each
on its own MIDI channel, light the DMX channels as the preview would light them, fades and
toggles included. The levels go to the Open Lighting Architecture's daemon (olad) as the
song plays, in real time: DMX channels 1-512 to one universe, 513-1024 to another. A frame
leaves when a level changes, at most 44 a second per universe, and once a second
otherwise. When the song and its fades are over, a frame of zeros goes to both universes
(unless --no-blackout).

The whole file is read before anything plays: a file that is not a Standard MIDI File,
is cut short or is broken anywhere is refused with the byte offset where it stops making
sense, and nothing is sent.

  --midi <song.mid>      The song.
  --dry-run              Send nothing and wait for nothing: print each frame's changed
                         channels with its time from the start of the song, e.g.
                           1.250 universe 1: 1=200 2=0
                           1.250 universe 2: 600=128
                         with the channels numbered as in the table (1-1024).
  --coefficient <c>      DMX level = MIDI value * c, as the box's coefficient setting:
                         1, 2, 2.01, 3, 4 or 5 (default 1).
  --universes <a>,<b>    The OLA universes of DMX 1-512 and of 513-1024 (default 1,2).
  --no-blackout          Leave the last levels on the rig at the end.
  --ola-port <port>      The daemon's RPC port (default 9010).
  -h, --help             Show this help.

No daemon: start one with "olad -f", then patch universes 1 and 2 to the rig's outputs
in its web page (http://localhost:9090) or with ola_patch. A daemon that goes away during
the song is tried again every 3 s; the command then ends with status 1 and says which
part of the song did not reach it.
)";

namespace {

const QString kProgram = QStringLiteral("varilume-cli play");

QString seconds(qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 3); }

// The frames --dry-run prints instead of sending: the channels that changed since the
// universe's frame before (all 0 at the start), by their number in the table.
class PrintingClient final : public DmxClient {
public:
    PrintingClient(QIODevice &out, Scheduler &clock, unsigned secondUniverse)
        : m_out(out), m_clock(clock), m_secondUniverse(secondUniverse)
    {
    }

    qint64 startMs = 0;

    bool connectToDaemon() override { return m_connected = true; }
    void disconnectFromDaemon() override { m_connected = false; }
    bool isConnected() const override { return m_connected; }
    bool sendFrame(unsigned universe, const DmxFrame &levels) override
    {
        DmxFrame &before = m_last[universe];
        const int base = universe == m_secondUniverse ? kDmxUniverseChannels : 0;
        QString line;
        for (int i = 0; i < kDmxUniverseChannels; ++i) {
            if (levels[size_t(i)] == before[size_t(i)])
                continue;
            line += QStringLiteral(" %1=%2").arg(base + i + 1).arg(levels[size_t(i)]);
        }
        before = levels;
        if (!line.isEmpty())
            m_out.write(QStringLiteral("%1 universe %2:%3\n")
                            .arg(seconds(m_clock.nowMs() - startMs))
                            .arg(universe)
                            .arg(line)
                            .toUtf8());
        return true;
    }

private:
    QIODevice &m_out;
    Scheduler &m_clock;
    unsigned m_secondUniverse;
    QHash<unsigned, DmxFrame> m_last;
    bool m_connected = false;
};

// Plays the song's messages into the engine at their times on the scheduler's clock, then
// waits for the fades they started: done when the song is over and no level has landed
// (and no message was played) for two fade steps.
class SongPlayer {
public:
    SongPlayer(const midi::SmfSong &song, PreviewEngine &engine, Scheduler &clock)
        : m_song(song), m_engine(engine), m_clock(clock), m_timer(clock.createTimer(&m_context))
    {
        m_timer->setSingleShot(true);
        QObject::connect(m_timer, &Timer::timeout, &m_context, [this] { step(); });
        QObject::connect(&engine, &PreviewEngine::levelApplied, &m_context,
                         [this] { m_lastLevelMs = m_clock.nowMs(); });
    }

    std::function<void()> onDone;

    void start()
    {
        m_startMs = m_clock.nowMs();
        step();
    }
    void stop() { m_timer->stop(); }
    bool isDone() const { return m_done; }
    qint64 elapsedMs() const { return m_clock.nowMs() - m_startMs; }

private:
    static constexpr int kQuietMs = 2 * PreviewEngine::kFadeIntervalMs + 10;
    static constexpr int kLongestSettleMs = 30000;  // the slowest fade takes 12.75 s

    void step()
    {
        const qint64 now = elapsedMs();
        const QVector<midi::SmfEvent> &events = m_song.events;
        while (m_next < events.size() && events.at(m_next).timeUs / 1000 <= now)
            play(events.at(m_next++));
        if (m_next < events.size()) {
            m_timer->start(int(events.at(m_next).timeUs / 1000 - now));
            return;
        }
        const qint64 lengthMs = (m_song.lengthUs + 999) / 1000;
        if (now < lengthMs) {
            m_timer->start(int(lengthMs - now));
            return;
        }
        const qint64 quiet = m_clock.nowMs() - m_lastLevelMs;
        if (quiet < kQuietMs && now - lengthMs < kLongestSettleMs) {
            m_timer->start(int(kQuietMs - quiet));
            return;
        }
        m_done = true;
        if (onDone)
            onDone();
    }

    void play(const midi::SmfEvent &e)
    {
        // A fade the message starts lands its first step a fade interval later: the song
        // is not over before that.
        m_lastLevelMs = m_clock.nowMs();
        switch (e.kind()) {
        case 0x80: m_engine.playMessage(EventKind::Note, e.channel(), e.data1, 0); break;
        case 0x90: m_engine.playMessage(EventKind::Note, e.channel(), e.data1, e.data2); break;
        case 0xA0: m_engine.playMessage(EventKind::Aftertouch, e.channel(), e.data1, e.data2); break;
        case 0xB0: m_engine.playMessage(EventKind::Control, e.channel(), e.data1, e.data2); break;
        default: break;  // program changes, pressure and pitch bend light nothing
        }
    }

    const midi::SmfSong &m_song;
    PreviewEngine &m_engine;
    Scheduler &m_clock;
    QObject m_context;
    Timer *m_timer;
    qint64 m_startMs = 0;
    qint64 m_lastLevelMs = std::numeric_limits<qint64>::min() / 2;
    int m_next = 0;
    bool m_done = false;
};

// Ctrl+C, SIGTERM and SIGHUP while a song plays in real time: the song stops, the rig gets
// its blackout, and then the signal ends the program as it would have (the handlers that
// were there before are put back and the signal raised again).
class SignalsDuringPlay {
public:
    SignalsDuringPlay()
    {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            s_pipe[0] = s_pipe[1] = -1;
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            unsigned char sig = 0;
            if (::read(s_pipe[0], &sig, 1) == 1 && m_caught == 0) {
                m_caught = sig;
                if (onSignal)
                    onSignal();
            }
        });
        struct sigaction action = {};
        action.sa_handler = [](int sig) {
            const unsigned char byte = static_cast<unsigned char>(sig);
            if (::write(s_pipe[1], &byte, 1) < 0) {
                // The pipe is full: a signal is already waiting to be handled.
            }
        };
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &action, &m_previous[i]);
        m_installed = true;
    }
    ~SignalsDuringPlay() { restore(); }

    std::function<void()> onSignal;
    int caught() const { return m_caught; }

    // Puts the program's own handlers back; a signal caught meanwhile is raised again.
    void restore()
    {
        if (m_installed) {
            for (size_t i = 0; i < std::size(kSignals); ++i)
                sigaction(kSignals[i], &m_previous[i], nullptr);
            m_installed = false;
        }
        m_notifier.reset();
        for (int &fd : s_pipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        if (m_caught != 0) {
            const int sig = m_caught;
            m_caught = 0;
            ::raise(sig);
        }
    }

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static inline int s_pipe[2] = {-1, -1};
    struct sigaction m_previous[std::size(kSignals)] = {};
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
    int m_caught = 0;
};

class Play {
public:
    Play(QIODevice &out, QIODevice &err) : m_out(out), m_err(err) {}
    int run(const QStringList &args);

private:
    int fail(const QString &line)
    {
        m_err.write((kProgram + QStringLiteral(": ") + line + QLatin1Char('\n')).toUtf8());
        return 1;
    }
    int usage(const QString &line)
    {
        fail(QStringLiteral("%1 (see \"varilume-cli play --help\")").arg(line));
        return 2;
    }
    void warn(const QString &line)
    {
        m_err.write((kProgram + QStringLiteral(": warning: ") + line + QLatin1Char('\n')).toUtf8());
    }
    int dryRun(const midi::SmfSong &song, const RuleModel &rules, double coefficient, const DmxOutputSettings &s);
    int realTime(const midi::SmfSong &song, const RuleModel &rules, double coefficient, const DmxOutputSettings &s,
                 quint16 port);

    QIODevice &m_out;
    QIODevice &m_err;
};

// The engine on the workbook's rules, as the preview sets it up.
struct Engine {
    Engine(const RuleModel &rules, double coefficient, Scheduler &clock) : engine(registry, clock)
    {
        snapshots.setRuleModel(&rules);
        snapshots.rebuild();
        engine.setRuleModel(&rules);
        engine.setSnapshots(&snapshots);
        engine.setPreviewCoefficient(coefficient);
    }
    RuleSnapshots snapshots;
    GlobalData registry;
    PreviewEngine engine;
};

int Play::dryRun(const midi::SmfSong &song, const RuleModel &rules, double coefficient, const DmxOutputSettings &s)
{
    ManualScheduler clock;
    Engine e(rules, coefficient, clock);
    PrintingClient client(m_out, clock, s.secondUniverse);
    DmxOutput output(client, clock);
    output.setSettings(s);
    QObject::connect(&e.engine, &PreviewEngine::levelApplied, &output, &DmxOutput::setLevel);
    output.setEnabled(true);
    SongPlayer player(song, e.engine, clock);
    player.start();
    while (!player.isDone() && clock.advanceToNext()) {
    }
    output.setEnabled(false);
    return 0;
}

int Play::realTime(const midi::SmfSong &song, const RuleModel &rules, double coefficient, const DmxOutputSettings &s,
                   quint16 port)
{
    Scheduler &clock = systemScheduler();
    Engine e(rules, coefficient, clock);
    OlaDmxClient client(port);
    DmxOutput output(client, clock);
    output.setSettings(s);
    QObject::connect(&e.engine, &PreviewEngine::levelApplied, &output, &DmxOutput::setLevel);
    output.setEnabled(true);
    if (output.state() != DmxOutput::State::Sending) {
        output.setEnabled(false);
        return fail(QStringLiteral("no OLA daemon answers on port %1: start it with \"%2\" (its web page: %3)")
                        .arg(port)
                        .arg(DmxOutput::daemonStartCommand(), DmxOutput::daemonWebPage()));
    }

    SongPlayer player(song, e.engine, clock);
    QEventLoop loop;
    player.onDone = [&loop] { loop.quit(); };
    qint64 lostAtMs = -1;
    qint64 backAtMs = -1;
    QObject context;
    QObject::connect(&output, &DmxOutput::stateChanged, &context, [&](DmxOutput::State state) {
        const qint64 at = player.elapsedMs();
        if (state == DmxOutput::State::NoDaemon) {
            if (lostAtMs < 0)
                lostAtMs = at;
            warn(QStringLiteral("the OLA daemon went away %1 s into the song; trying again every %2 s")
                     .arg(seconds(at))
                     .arg(DmxOutput::kRetryMs / 1000));
        } else if (state == DmxOutput::State::Sending) {
            if (backAtMs < 0)
                backAtMs = at;
            warn(QStringLiteral("the OLA daemon is back %1 s into the song").arg(seconds(at)));
        }
    });
    SignalsDuringPlay interruptions;
    interruptions.onSignal = [&] {
        player.stop();
        loop.quit();
    };
    player.start();
    if (!player.isDone())
        loop.exec();
    output.setEnabled(false);
    interruptions.restore();  // a signal caught during the song ends the program here
    if (lostAtMs >= 0) {
        const QString until = backAtMs >= 0 ? QStringLiteral("%1 s").arg(seconds(backAtMs)) : QStringLiteral("the end");
        return fail(QStringLiteral("the OLA daemon was away from %1 s to %2 of the song: the levels meanwhile did "
                                   "not reach the rig")
                        .arg(seconds(lostAtMs), until));
    }
    return 0;
}

int Play::run(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    parser.addOption({QStringLiteral("midi"), QString(), QStringLiteral("file")});
    parser.addOption({QStringLiteral("dry-run"), QString()});
    parser.addOption({QStringLiteral("coefficient"), QString(), QStringLiteral("c")});
    parser.addOption({QStringLiteral("universes"), QString(), QStringLiteral("a,b")});
    parser.addOption({QStringLiteral("no-blackout"), QString()});
    parser.addOption({QStringLiteral("ola-port"), QString(), QStringLiteral("port")});
    if (!parser.parse(QStringList{QStringLiteral("varilume-cli")} + args))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        m_out.write(kPlayHelp);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usage(QStringLiteral("the workbook is missing"));
    if (positional.size() > 1)
        return usage(QStringLiteral("unexpected argument \"%1\"").arg(oneLine(positional.at(1))));
    if (!parser.isSet(QStringLiteral("midi")))
        return usage(QStringLiteral("--midi is missing"));

    double coefficient = 1.0;
    if (parser.isSet(QStringLiteral("coefficient"))) {
        const QString text = parser.value(QStringLiteral("coefficient"));
        const int at = coefficientChoices().indexOf(text);
        if (at < 0)
            return usage(QStringLiteral("--coefficient takes one of %1, not \"%2\"")
                             .arg(coefficientChoices().join(QStringLiteral(", ")), oneLine(text)));
        coefficient = coefficientNumber(at);
    }
    DmxOutputSettings settings;
    settings.blackoutOnExit = !parser.isSet(QStringLiteral("no-blackout"));
    if (parser.isSet(QStringLiteral("universes"))) {
        const QString text = parser.value(QStringLiteral("universes"));
        const QStringList parts = text.split(QLatin1Char(','));
        bool ok1 = false;
        bool ok2 = false;
        if (parts.size() == 2) {
            settings.firstUniverse = parts.at(0).trimmed().toUInt(&ok1);
            settings.secondUniverse = parts.at(1).trimmed().toUInt(&ok2);
        }
        if (!ok1 || !ok2 || !settings.isValid())
            return usage(
                QStringLiteral("--universes takes two different universes from 0 to %1, as \"1,2\", not \"%2\"")
                    .arg(DmxOutputSettings::kMaxUniverse)
                    .arg(oneLine(text)));
    }
    quint16 port = OlaDmxClient::kDefaultPort;
    if (parser.isSet(QStringLiteral("ola-port"))) {
        bool ok = false;
        const uint value = parser.value(QStringLiteral("ola-port")).toUInt(&ok);
        if (!ok || value < 1 || value > 65535)
            return usage(QStringLiteral("--ola-port takes a port from 1 to 65535, not \"%1\"")
                             .arg(oneLine(parser.value(QStringLiteral("ola-port")))));
        port = quint16(value);
    }

    // The song first: a broken file is refused before the workbook is even opened.
    const QString songPath = parser.value(QStringLiteral("midi"));
    QByteArray bytes;
    FileProblem problem;
    if (!readRegularFile(songPath, midi::kMaxSmfBytes, &bytes, &problem)) {
        if (problem.code == EFBIG)
            return fail(QStringLiteral("%1: the file is larger than %2 MB, which no song is; nothing was played")
                            .arg(songPath)
                            .arg(midi::kMaxSmfBytes / 1024 / 1024));
        return fail(QStringLiteral("cannot read %1: %2").arg(songPath, problem.reason));
    }
    midi::SmfSong song;
    midi::SmfProblem broken;
    if (!midi::readStandardMidiFile(bytes, &song, &broken))
        return fail(
            QStringLiteral("%1: byte %2: %3; nothing was played").arg(songPath).arg(broken.offset).arg(broken.reason));

    const QString workbook = positional.first();
    RuleModel rules;
    QString error;
    QStringList notes;
    if (!loadRuleWorkbook(workbook, rules, &error, &notes))
        return fail(QStringLiteral("%1: %2").arg(workbook, error));
    for (const QString &note : qAsConst(notes))
        warn(QStringLiteral("%1: %2").arg(workbook, oneLine(note, 240)));

    if (parser.isSet(QStringLiteral("dry-run")))
        return dryRun(song, rules, coefficient, settings);
    return realTime(song, rules, coefficient, settings, port);
}

}  // namespace

int playSong(const QStringList &args, QIODevice &out, QIODevice &err)
{
    Play play(out, err);
    return play.run(args);
}

}  // namespace vl::cli
