#pragma once

// Where the program's timers get their time. Everything that waits a fixed interval (the
// 2000 ms port scan, the command-line tool's waits for the box, firmware pacing, light
// fades) asks a Scheduler for a Timer instead of making a QTimer, so a test can run on a
// ManualScheduler and step the clock instead of waiting in real time.
//
//     Timer *scan = scheduler().createTimer(this);   // owned by `this`
//     connect(scan, &Timer::timeout, this, &Thing::rescan);
//     scan->start(2000);
//
// The program runs on systemScheduler(): QTimer and the monotonic clock. A test installs
// its own with installScheduler() before it builds what it tests (the objects keep the
// scheduler they were given), and steps it:
//
//     ManualScheduler clock;
//     installScheduler(&clock);
//     ...
//     clock.advance(2000);   // every timer due within 2 s fires, in time order
//     installScheduler(nullptr);
//
// Everything runs on the thread that owns the timers (the GUI thread); nothing is locked.

#include <QList>
#include <QObject>

#include <functional>

namespace vl {

class Scheduler;

// A timer of a Scheduler, used like a QTimer: an interval, single shot or repeating, and
// timeout() each time it falls due. Starting an active timer starts it over.
class Timer : public QObject {
    Q_OBJECT
public:
    void setInterval(int ms) { m_interval = qMax(0, ms); }
    int interval() const { return m_interval; }
    void setSingleShot(bool singleShot) { m_singleShot = singleShot; }
    bool isSingleShot() const { return m_singleShot; }

    // Starts (or restarts) the timer with its interval.
    void start() { start(m_interval); }
    // Sets the interval and starts (or restarts) the timer.
    void start(int ms)
    {
        setInterval(ms);
        startTimer();
    }
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

signals:
    void timeout();

protected:
    explicit Timer(QObject *parent) : QObject(parent) {}
    virtual void startTimer() = 0;
    void fire() { emit timeout(); }

private:
    int m_interval = 0;
    bool m_singleShot = false;
};

class Scheduler {
public:
    virtual ~Scheduler();
    // A new, stopped timer; `parent` owns it (the caller does when it is null).
    virtual Timer *createTimer(QObject *parent = nullptr) = 0;
    // Milliseconds on this scheduler's clock; only differences mean anything.
    virtual qint64 nowMs() const = 0;
    // Runs `callback` once, `ms` from now, unless `context` is gone by then.
    void singleShot(int ms, QObject *context, std::function<void()> callback);
};

// QTimer and the monotonic clock: what the program runs on.
Scheduler &systemScheduler();
// The scheduler new objects use: the system's unless a test installed another.
Scheduler &scheduler();
// Installs a replacement (not owned); nullptr brings the system's back.
void installScheduler(Scheduler *replacement);

// A clock that stands still until advance() moves it: every timer that falls due on the
// way fires then, in time order (timers due at the same moment in the order they were
// started), each repeating timer as often as it falls due. A timeout handler may start,
// stop and create timers; they take part in the same advance. A repeating timer with
// interval 0 fires once per millisecond of manual time.
class ManualScheduler final : public Scheduler {
public:
    ManualScheduler() = default;
    ~ManualScheduler() override;
    ManualScheduler(const ManualScheduler &) = delete;
    ManualScheduler &operator=(const ManualScheduler &) = delete;

    Timer *createTimer(QObject *parent = nullptr) override;
    qint64 nowMs() const override { return m_now; }

    // Moves the clock `ms` forward, firing what falls due.
    void advance(int ms);
    // Moves the clock to the next timer that is due and fires it (and any other due at
    // the same moment); false when no timer is active.
    bool advanceToNext();
    // Milliseconds until the next active timer falls due; -1 when none is active.
    qint64 msUntilNext() const;
    int activeTimerCount() const;

private:
    class ManualTimer;
    friend class ManualTimer;
    ManualTimer *nextDue(qint64 until) const;
    void runUntil(qint64 until);

    qint64 m_now = 0;
    quint64 m_sequence = 0;
    QList<ManualTimer *> m_timers;
};

}  // namespace vl
