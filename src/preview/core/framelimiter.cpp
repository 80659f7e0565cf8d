#include "framelimiter.h"

#include <utility>

namespace vl {

FrameLimiter::FrameLimiter(std::function<void()> frame, Scheduler &timers, int intervalMs, QObject *parent)
    : QObject(parent), m_frame(std::move(frame)), m_timers(timers), m_interval(qMax(0, intervalMs))
{
    m_timer = m_timers.createTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &Timer::timeout, this, &FrameLimiter::runFrame);
}

void FrameLimiter::request()
{
    if (m_pending)
        return;
    m_pending = true;
    qint64 wait = 0;
    if (m_haveLast) {
        const qint64 since = m_timers.nowMs() - m_lastFrameMs;
        if (since >= 0 && since < m_interval)
            wait = m_interval - since;
    }
    m_timer->start(int(wait));
}

void FrameLimiter::runFrame()
{
    m_pending = false;
    m_haveLast = true;
    m_lastFrameMs = m_timers.nowMs();
    ++m_frames;
    if (m_frame)
        m_frame();
}

}  // namespace vl
