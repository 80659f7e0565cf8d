#include "scheduler.h"

#include <QElapsedTimer>
#include <QTimer>

#include <limits>

namespace vl {

Scheduler::~Scheduler() = default;

void Scheduler::singleShot(int ms, QObject *context, std::function<void()> callback)
{
    Timer *timer = createTimer(context);
    timer->setSingleShot(true);
    QObject::connect(timer, &Timer::timeout, timer, [timer, callback = std::move(callback)] {
        timer->deleteLater();
        if (callback)
            callback();
    });
    timer->start(ms);
}

namespace {

class SystemTimer final : public Timer {
public:
    explicit SystemTimer(QObject *parent) : Timer(parent), m_timer(this)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { fire(); });
    }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

protected:
    void startTimer() override
    {
        m_timer.setSingleShot(isSingleShot());
        m_timer.start(interval());
    }

private:
    QTimer m_timer;
};

class SystemScheduler final : public Scheduler {
public:
    SystemScheduler() { m_clock.start(); }
    Timer *createTimer(QObject *parent) override { return new SystemTimer(parent); }
    qint64 nowMs() const override { return m_clock.elapsed(); }

private:
    QElapsedTimer m_clock;
};

Scheduler *g_installed = nullptr;

}  // namespace

Scheduler &systemScheduler()
{
    static SystemScheduler system;
    return system;
}

Scheduler &scheduler() { return g_installed ? *g_installed : systemScheduler(); }

void installScheduler(Scheduler *replacement) { g_installed = replacement; }

// ---------------------------------------------------------------------------------------

class ManualScheduler::ManualTimer final : public Timer {
public:
    ManualTimer(ManualScheduler *owner, QObject *parent) : Timer(parent), m_owner(owner)
    {
        m_owner->m_timers.append(this);
    }
    ~ManualTimer() override
    {
        if (m_owner)
            m_owner->m_timers.removeOne(this);
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    // One step of the timer's period on the manual clock.
    qint64 period() const { return qMax(1, interval()); }
    void fireNow()
    {
        if (isSingleShot())
            m_active = false;
        else
            m_due += period();
        fire();
    }

    ManualScheduler *m_owner;
    bool m_active = false;
    qint64 m_due = 0;
    quint64 m_sequence = 0;

protected:
    void startTimer() override
    {
        if (!m_owner)
            return;  // the scheduler is gone: its time never comes
        m_active = true;
        m_due = m_owner->m_now + interval();
        m_sequence = ++m_owner->m_sequence;
    }
};

ManualScheduler::~ManualScheduler()
{
    for (ManualTimer *timer : qAsConst(m_timers)) {
        timer->m_owner = nullptr;
        timer->m_active = false;
    }
}

Timer *ManualScheduler::createTimer(QObject *parent) { return new ManualTimer(this, parent); }

ManualScheduler::ManualTimer *ManualScheduler::nextDue(qint64 until) const
{
    ManualTimer *next = nullptr;
    for (ManualTimer *timer : m_timers) {
        if (!timer->m_active || timer->m_due > until)
            continue;
        if (!next || timer->m_due < next->m_due
            || (timer->m_due == next->m_due && timer->m_sequence < next->m_sequence))
            next = timer;
    }
    return next;
}

void ManualScheduler::runUntil(qint64 until)
{
    while (ManualTimer *timer = nextDue(until)) {
        m_now = qMax(m_now, timer->m_due);
        timer->fireNow();
    }
    m_now = qMax(m_now, until);
}

void ManualScheduler::advance(int ms) { runUntil(m_now + qMax(0, ms)); }

bool ManualScheduler::advanceToNext()
{
    const qint64 wait = msUntilNext();
    if (wait < 0)
        return false;
    runUntil(m_now + wait);
    return true;
}

qint64 ManualScheduler::msUntilNext() const
{
    if (ManualTimer *next = nextDue(std::numeric_limits<qint64>::max()))
        return qMax<qint64>(0, next->m_due - m_now);
    return -1;
}

int ManualScheduler::activeTimerCount() const
{
    int n = 0;
    for (const ManualTimer *timer : m_timers)
        n += timer->m_active ? 1 : 0;
    return n;
}

}  // namespace vl
