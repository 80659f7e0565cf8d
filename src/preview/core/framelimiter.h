#pragma once

// Holds repaints to a frame rate. Whoever changed something asks for a frame; the first
// request after a quiet spell is served once the current event has been handled, and
// further requests within the frame interval are gathered into one frame at its end. With
// no request nothing is scheduled, so an idle preview runs no timer.
//
// The frame itself (what to repaint) is the owner's callback. The waiting runs on the
// Scheduler given, so tests step it by hand.

#include "common/core/scheduler.h"

#include <QObject>

#include <functional>

namespace vl {

class FrameLimiter : public QObject {
    Q_OBJECT
public:
    // 20 ms: at most 50 frames a second.
    static constexpr int kDefaultIntervalMs = 20;

    FrameLimiter(std::function<void()> frame, Scheduler &timers = scheduler(), int intervalMs = kDefaultIntervalMs,
                 QObject *parent = nullptr);

    // Something changed: a frame follows, at the earliest one interval after the last one.
    void request();
    bool pending() const { return m_pending; }
    int intervalMs() const { return m_interval; }
    // 0: a frame after every event that asked for one (no pacing).
    void setIntervalMs(int ms) { m_interval = qMax(0, ms); }
    // Frames run so far.
    int frames() const { return m_frames; }

private:
    void runFrame();

    std::function<void()> m_frame;
    Scheduler &m_timers;
    Timer *m_timer;
    int m_interval;
    bool m_pending = false;
    bool m_haveLast = false;
    qint64 m_lastFrameMs = 0;
    int m_frames = 0;
};

}  // namespace vl
