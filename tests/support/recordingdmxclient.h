#pragma once

// A DmxClient that records the frames it is handed, with the scheduler's time, instead of
// talking to a lighting daemon. `daemonRunning` decides whether connecting works; a daemon
// that goes away mid-show is `daemonRunning = false` while connected: the next frame fails.

#include "preview/core/dmxoutput.h"

#include <QList>
#include <QStringList>

namespace vl::test {

class RecordingDmxClient final : public DmxClient {
public:
    struct Frame {
        qint64 ms;
        unsigned universe;
        DmxFrame levels;
    };

    explicit RecordingDmxClient(Scheduler &clock) : m_clock(clock) {}

    bool daemonRunning = true;
    QList<Frame> frames;
    int connectAttempts = 0;

    bool connectToDaemon() override
    {
        ++connectAttempts;
        m_connected = daemonRunning;
        return m_connected;
    }
    void disconnectFromDaemon() override { m_connected = false; }
    bool isConnected() const override { return m_connected; }
    bool sendFrame(unsigned universe, const DmxFrame &levels) override
    {
        if (!m_connected || !daemonRunning) {
            m_connected = false;
            return false;
        }
        frames.append({m_clock.nowMs(), universe, levels});
        return true;
    }

    // "ms uN: dmx=level ..." for each frame, the levels that are not 0 named by the DMX
    // channel they come from (513 ... 1024 for the second universe, `secondUniverse`).
    static QString render(const Frame &f, unsigned secondUniverse = 2)
    {
        QStringList parts{QStringLiteral("%1 u%2:").arg(f.ms).arg(f.universe)};
        const int base = f.universe == secondUniverse ? kDmxUniverseChannels : 0;
        for (int i = 0; i < kDmxUniverseChannels; ++i)
            if (f.levels[size_t(i)] != 0)
                parts << QStringLiteral("%1=%2").arg(base + i + 1).arg(f.levels[size_t(i)]);
        return parts.join(QLatin1Char(' '));
    }
    QStringList rendered(unsigned secondUniverse = 2) const
    {
        QStringList out;
        for (const Frame &f : frames)
            out << render(f, secondUniverse);
        return out;
    }
    // The frames of one universe only.
    QList<Frame> framesOf(unsigned universe) const
    {
        QList<Frame> out;
        for (const Frame &f : frames)
            if (f.universe == universe)
                out << f;
        return out;
    }

private:
    Scheduler &m_clock;
    bool m_connected = false;
};

}  // namespace vl::test
