// MIDI output through RtMidi: the ALSA sequencer where the machine has one, JACK otherwise.

#include "common/core/folderwatch.h"
#include "common/core/scheduler.h"
#include "midibackend.h"
#include "midilog.h"

#include <RtMidi.h>
#include <jack/jack.h>

#include <QFileInfo>
#include <atomic>
#include <mutex>
#include <sys/inotify.h>
#include <vector>

namespace vl {

MidiBackend::~MidiBackend() = default;

namespace {

const char kClientName[] = "Varilume";
const char kWatchClientName[] = "Varilume watch";
const char kOutputPortName[] = "Varilume MIDI Out";

void jackMessage(const char *text) { qCDebug(lcMidi, "jack: %s", text); }

// libjack writes every failed connection attempt to stderr; while no server runs the port
// scan would do that every second. Its messages go to our log instead.
void routeJackMessages()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(jackMessage);
        jack_set_info_function(jackMessage);
    });
}

bool compiled(RtMidi::Api api)
{
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    for (RtMidi::Api a : apis) {
        if (a == api)
            return true;
    }
    return false;
}

// A client of our own on the JACK server that only listens for the server going away.
// Once the server has stopped, RtMidi's JACK output waits without end for room in its
// message buffer, so nothing may be sent to it after that.
class JackServerWatch {
public:
    JackServerWatch() = default;
    JackServerWatch(const JackServerWatch &) = delete;
    JackServerWatch &operator=(const JackServerWatch &) = delete;
    ~JackServerWatch() { close(); }

    // False when no server is running; never starts one.
    bool open()
    {
        close();
        m_gone = false;
        jack_status_t status{};
        m_client = jack_client_open(kWatchClientName, JackNoStartServer, &status);
        if (!m_client)
            return false;
        jack_on_info_shutdown(m_client, &JackServerWatch::onShutdown, this);
        return true;
    }

    void close()
    {
        if (m_client) {
            jack_client_close(m_client);
            m_client = nullptr;
        }
    }

    bool serverGone() const { return m_client && m_gone.load(); }

private:
    static void onShutdown(jack_status_t, const char *reason, void *self)
    {
        qCDebug(lcMidi, "the JACK server went away: %s", reason ? reason : "");
        static_cast<JackServerWatch *>(self)->m_gone = true;
    }

    jack_client_t *m_client = nullptr;
    std::atomic<bool> m_gone{false};
};

// Whether a JACK server may have started since the last try. Trying means opening a JACK
// client (a thread, sockets, shared memory), which the port refresh would do every second
// on a machine that runs no server. A JACK server makes its socket in /dev/shm, which a
// watch there hears at once; a server that makes nothing there (PipeWire's JACK) is still
// found, by a try every kRetryMs of the scheduler's clock (the one the refresh runs on).
class JackServerHint {
public:
    static constexpr qint64 kRetryMs = 30000;

    bool worthTrying()
    {
        const qint64 now = scheduler().nowMs();
        const bool heard = m_shm.changed(QStringLiteral("/dev/shm"));
        // A clock that went back (another scheduler installed) counts as time gone by.
        if (!heard && m_tried && now >= m_triedAt && now - m_triedAt < kRetryMs)
            return false;
        m_tried = true;
        m_triedAt = now;
        return true;
    }

private:
    FolderWatch m_shm{IN_CREATE | IN_MOVED_TO, QByteArrayLiteral("jack")};
    bool m_tried = false;
    qint64 m_triedAt = 0;
};

class RtMidiBackend final : public MidiBackend {
public:
    explicit RtMidiBackend(MidiSystem system) : m_system(system) { routeJackMessages(); }
    ~RtMidiBackend() override { close(); }

    QStringList portNames() override
    {
        QStringList names;
        if (!ready())
            return names;
        guarded([&] {
            const unsigned count = m_out->getPortCount();
            for (unsigned i = 0; i < count; ++i)
                names.append(QString::fromStdString(m_out->getPortName(i)));
        });
        return names;
    }

    bool open(int id, QString *error) override
    {
        close();
        if (!ready()) {
            *error = QStringLiteral("no MIDI system is available");
            return false;
        }
        unsigned count = 0;
        guarded([&] { count = m_out->getPortCount(); });
        if (id < 0 || unsigned(id) >= count) {
            *error = QStringLiteral("there is no output port %1").arg(id);
            return false;
        }
        // RtMidi reports a port that vanished since the list was taken only as a warning
        // and leaves its own port open, so any complaint during the call counts.
        m_lastError.clear();
        const bool ok = guarded([&] { m_out->openPort(unsigned(id), kOutputPortName); }) && m_out->isPortOpen();
        if (!ok) {
            *error = m_lastError.isEmpty() ? QStringLiteral("the port did not open") : m_lastError;
            guarded([&] { m_out->closePort(); });
            return false;
        }
        m_portOpen = true;
        return true;
    }

    void close() override
    {
        if (m_out && m_portOpen)
            guarded([&] { m_out->closePort(); });
        m_portOpen = false;
        if (jackServerGone())
            reset();
    }

    bool send(const QByteArray &bytes, QString *error) override
    {
        if (!m_out || !m_portOpen) {
            *error = QStringLiteral("no port is open");
            return false;
        }
        if (jackServerGone()) {
            *error = QStringLiteral("the JACK server has stopped");
            return false;
        }
        const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
        if (!guarded([&] { m_out->sendMessage(data, size_t(bytes.size())); })) {
            *error = m_lastError;
            return false;
        }
        return true;
    }

private:
    bool jackServerGone() const { return m_api == RtMidi::UNIX_JACK && m_watch.serverGone(); }

    // Makes sure there is a MIDI client to list and open ports with. A client whose JACK
    // server went away is dropped once its port is closed, so a restarted server is found.
    bool ready()
    {
        if (jackServerGone()) {
            if (m_portOpen)
                return false;
            reset();
        }
        if (!m_out)
            create();
        return m_out != nullptr;
    }

    void create()
    {
        // A sequencer device that does not open (no permission, say) is not tried again
        // every second: the ALSA library complains on stderr each time.
        const bool tryAlsa = m_system == MidiSystem::AlsaSequencer
                             || (m_system == MidiSystem::Automatic && !m_alsaFailed
                                 && QFileInfo::exists(QStringLiteral("/dev/snd/seq")));
        if (tryAlsa && compiled(RtMidi::LINUX_ALSA)) {
            if (make(RtMidi::LINUX_ALSA))
                return;
            m_alsaFailed = true;
        }
        if (m_system == MidiSystem::AlsaSequencer || !compiled(RtMidi::UNIX_JACK))
            return;
        if (!m_jackHint.worthTrying() || !m_watch.open())
            return;  // no JACK server running
        if (!make(RtMidi::UNIX_JACK))
            m_watch.close();
    }

    bool make(RtMidi::Api api)
    {
        guarded([&] { m_out = std::make_unique<RtMidiOut>(api, kClientName); });
        if (!m_out) {
            qCDebug(lcMidi) << "no MIDI output on" << QString::fromStdString(RtMidi::getApiDisplayName(api))
                            << m_lastError;
            return false;
        }
        m_out->setErrorCallback(&RtMidiBackend::onError, this);
        m_api = api;
        qCDebug(lcMidi) << "MIDI output through" << QString::fromStdString(RtMidi::getApiDisplayName(api));
        return true;
    }

    void reset()
    {
        m_out.reset();
        m_watch.close();
        m_api = RtMidi::UNSPECIFIED;
        m_portOpen = false;
    }

    // Runs a call into RtMidi; nothing it throws gets past here. False when it threw or
    // reported an error or warning.
    template <typename F>
    bool guarded(F &&call)
    {
        m_errorRaised = false;
        try {
            call();
        } catch (const RtMidiError &e) {
            noteError(QString::fromStdString(e.getMessage()));
        } catch (const std::exception &e) {
            noteError(QString::fromLocal8Bit(e.what()));
        }
        return !m_errorRaised;
    }

    void noteError(const QString &text)
    {
        m_errorRaised = true;
        m_lastError = text;
        qCDebug(lcMidi) << "RtMidi:" << text;
    }

    static void onError(RtMidiError::Type, const std::string &text, void *self)
    {
        static_cast<RtMidiBackend *>(self)->noteError(QString::fromStdString(text));
    }

    const MidiSystem m_system;
    std::unique_ptr<RtMidiOut> m_out;
    RtMidi::Api m_api = RtMidi::UNSPECIFIED;
    JackServerWatch m_watch;
    JackServerHint m_jackHint;
    bool m_portOpen = false;
    bool m_alsaFailed = false;
    bool m_errorRaised = false;
    QString m_lastError;
};

}  // namespace

std::unique_ptr<MidiBackend> makeRtMidiBackend(MidiSystem system) { return std::make_unique<RtMidiBackend>(system); }

}  // namespace vl
