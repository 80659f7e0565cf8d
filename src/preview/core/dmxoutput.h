#pragma once

// The preview's levels on real lights: DmxOutput takes the level of every DMX channel the
// engine drives and sends frames of 512 levels to a lighting daemon (the Open Lighting
// Architecture's olad), channels 1-512 to one universe and 513-1024 to another.
//
//   - A frame leaves when a level of its universe changes, at most 44 frames a second per
//     universe (DMX512's refresh limit): changes that come faster are gathered into the
//     next frame. While nothing changes each universe is sent again once a second, so
//     receivers that time out stay lit.
//   - Turning the output off (closing the preview, quitting) sends one frame of zeros to
//     both universes when "blackout on exit" is set; the daemon would otherwise hold the
//     last levels on the rig.
//   - When no daemon answers, or it goes away mid-show, the output says so (statusText())
//     and tries again every few seconds; connecting never waits for a daemon to start.
//     The output never starts or configures the daemon.
//
// The daemon is reached through DmxClient: OLA's client library in the program (a library
// of its own, vl_preview_ola), a recording stand-in in tests. Timers come from the
// Scheduler, so tests step the pacing by hand.

#include "common/core/scheduler.h"

#include <QObject>
#include <QString>

#include <array>

namespace vl {

constexpr int kDmxUniverseChannels = 512;
constexpr int kDmxOutputChannels = 2 * kDmxUniverseChannels;  // the box's two ports
using DmxFrame = std::array<quint8, kDmxUniverseChannels>;

class DmxClient {
public:
    virtual ~DmxClient();
    // Connects to the daemon; false when none answers. Returns at once either way.
    virtual bool connectToDaemon() = 0;
    virtual void disconnectFromDaemon() = 0;
    virtual bool isConnected() const = 0;
    // Hands one frame for `universe` to the daemon; false when the daemon has gone away
    // (the client is then disconnected).
    virtual bool sendFrame(unsigned universe, const DmxFrame &levels) = 0;
};

// The output's preferences, kept in "./config.ini" (group "DmxOutput").
struct DmxOutputSettings {
    static constexpr int kMaxUniverse = 65535;

    unsigned firstUniverse = 1;   // DMX channels 1 ... 512
    unsigned secondUniverse = 2;  // DMX channels 513 ... 1024
    bool blackoutOnExit = true;

    // Both universes in 0 ... kMaxUniverse and different from each other.
    bool isValid() const;
    bool operator==(const DmxOutputSettings &o) const
    {
        return firstUniverse == o.firstUniverse && secondUniverse == o.secondUniverse
               && blackoutOnExit == o.blackoutOnExit;
    }
    bool operator!=(const DmxOutputSettings &o) const { return !(*this == o); }

    // What the file holds; the defaults for what is missing or not valid.
    static DmxOutputSettings load();
    void save() const;
};

class DmxOutput : public QObject {
    Q_OBJECT
public:
    enum class State {
        Off,       // not sending
        Sending,   // connected, frames leave
        NoDaemon,  // on, but no daemon answers (yet, or any more): trying again
    };

    static constexpr int kMaxFramesPerSecond = 44;
    // The shortest time between two frames of a universe: 1000 / 44 ms, rounded up.
    static constexpr int kFrameIntervalMs = (1000 + kMaxFramesPerSecond - 1) / kMaxFramesPerSecond;
    static constexpr int kKeepAliveMs = 1000;
    static constexpr int kRetryMs = 3000;

    explicit DmxOutput(DmxClient &client, Scheduler &timers = scheduler(), QObject *parent = nullptr);
    // Turns the output off first (with its blackout).
    ~DmxOutput() override;

    // Changing universes while sending: the old universes get their blackout (when set),
    // the new ones the current levels at once. Settings that are not valid are refused.
    bool setSettings(const DmxOutputSettings &settings);
    const DmxOutputSettings &settings() const { return m_settings; }

    // On: connect and send the current levels. Off: the blackout frame (when set), then
    // disconnect. The levels are kept either way.
    void setEnabled(bool on);
    bool isEnabled() const { return m_state != State::Off; }
    State state() const { return m_state; }
    // One line for the window; empty while off.
    QString statusText() const;

    // The level of DMX channel 1 ... 1024 (others are ignored), clamped to 0 ... 255.
    void setLevel(int dmx, int level);
    int level(int dmx) const;

    static QString daemonStartCommand() { return QStringLiteral("olad -f"); }
    static QString daemonWebPage() { return QStringLiteral("http://localhost:9090"); }

signals:
    void stateChanged(vl::DmxOutput::State state);
    // A frame went to the daemon (tests and measurements watch it).
    void frameSent(unsigned universe);

private:
    struct Universe {
        DmxFrame levels{};
        bool pending = false;  // a level changed since the last frame
        qint64 lastSentMs = 0;
        bool sentOnce = false;       // lastSentMs means something
        Timer *pace = nullptr;       // the next frame, when a change came too soon
        Timer *keepAlive = nullptr;  // the frame of a second without changes
    };

    unsigned universeId(int which) const { return which == 0 ? m_settings.firstUniverse : m_settings.secondUniverse; }
    void setState(State state);
    bool tryConnect();
    void schedule(int which);
    void sendNow(int which);
    bool sendBlackout(unsigned first, unsigned second);
    void stopTimers();
    void daemonLost();

    DmxClient &m_client;
    Scheduler &m_timers;
    DmxOutputSettings m_settings;
    State m_state = State::Off;
    bool m_lostMidShow = false;  // the daemon went away while frames were leaving
    std::array<Universe, 2> m_universes;
    Timer *m_retry = nullptr;
};

}  // namespace vl
