#include "dmxoutput.h"

#include <QSettings>

#include <algorithm>

namespace vl {

DmxClient::~DmxClient() = default;

// ---- settings ----

namespace {

const QString &configPath()
{
    static const QString path = QStringLiteral("./config.ini");
    return path;
}

bool readUniverse(const QVariant &value, unsigned *universe)
{
    bool ok = false;
    const qlonglong v = value.toString().trimmed().toLongLong(&ok);
    if (!ok || v < 0 || v > DmxOutputSettings::kMaxUniverse)
        return false;
    *universe = unsigned(v);
    return true;
}

}  // namespace

bool DmxOutputSettings::isValid() const
{
    return firstUniverse <= unsigned(kMaxUniverse) && secondUniverse <= unsigned(kMaxUniverse)
           && firstUniverse != secondUniverse;
}

DmxOutputSettings DmxOutputSettings::load()
{
    QSettings file(configPath(), QSettings::IniFormat);
    file.beginGroup(QStringLiteral("DmxOutput"));
    DmxOutputSettings s;
    DmxOutputSettings read = s;
    if (readUniverse(file.value(QStringLiteral("firstUniverse")), &read.firstUniverse)
        && readUniverse(file.value(QStringLiteral("secondUniverse")), &read.secondUniverse) && read.isValid()) {
        s.firstUniverse = read.firstUniverse;
        s.secondUniverse = read.secondUniverse;
    }
    const QString blackout = file.value(QStringLiteral("blackoutOnExit")).toString().trimmed().toLower();
    s.blackoutOnExit = !(blackout == QLatin1String("false") || blackout == QLatin1String("0"));
    return s;
}

void DmxOutputSettings::save() const
{
    QSettings file(configPath(), QSettings::IniFormat);
    file.beginGroup(QStringLiteral("DmxOutput"));
    file.setValue(QStringLiteral("firstUniverse"), firstUniverse);
    file.setValue(QStringLiteral("secondUniverse"), secondUniverse);
    file.setValue(QStringLiteral("blackoutOnExit"), blackoutOnExit);
    file.endGroup();
    file.sync();
}

// ---- the output ----

DmxOutput::DmxOutput(DmxClient &client, Scheduler &timers, QObject *parent)
    : QObject(parent), m_client(client), m_timers(timers)
{
    for (int which = 0; which < 2; ++which) {
        Universe &u = m_universes[size_t(which)];
        u.pace = m_timers.createTimer(this);
        u.pace->setSingleShot(true);
        connect(u.pace, &Timer::timeout, this, [this, which] {
            if (m_universes[size_t(which)].pending)
                sendNow(which);
        });
        u.keepAlive = m_timers.createTimer(this);
        u.keepAlive->setSingleShot(true);
        connect(u.keepAlive, &Timer::timeout, this, [this, which] { sendNow(which); });
    }
    m_retry = m_timers.createTimer(this);
    connect(m_retry, &Timer::timeout, this, [this] {
        if (m_state == State::NoDaemon)
            tryConnect();
    });
}

DmxOutput::~DmxOutput() { setEnabled(false); }

void DmxOutput::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}

QString DmxOutput::statusText() const
{
    switch (m_state) {
    case State::Off: return QString();
    case State::Sending:
        return QStringLiteral("Sending to OLA universe %1 (DMX 1-512) and universe %2 (DMX 513-1024)")
            .arg(m_settings.firstUniverse)
            .arg(m_settings.secondUniverse);
    case State::NoDaemon:
        return QStringLiteral("%1: start it with \"%2\" (its web page: %3); trying again every %4 s")
            .arg(m_lostMidShow ? QStringLiteral("The OLA daemon went away")
                               : QStringLiteral("No OLA daemon is running"),
                 daemonStartCommand(), daemonWebPage())
            .arg(kRetryMs / 1000);
    }
    return QString();
}

bool DmxOutput::setSettings(const DmxOutputSettings &settings)
{
    if (!settings.isValid())
        return false;
    const DmxOutputSettings old = m_settings;
    m_settings = settings;
    if (m_state != State::Sending
        || (old.firstUniverse == settings.firstUniverse && old.secondUniverse == settings.secondUniverse))
        return true;
    // The universes no longer fed keep what the daemon last had unless they are cleared.
    const unsigned clearFirst = old.firstUniverse != settings.firstUniverse
                                        && old.firstUniverse != settings.secondUniverse
                                    ? old.firstUniverse
                                    : ~0u;
    const unsigned clearSecond = old.secondUniverse != settings.firstUniverse
                                         && old.secondUniverse != settings.secondUniverse
                                     ? old.secondUniverse
                                     : ~0u;
    if (old.blackoutOnExit && !sendBlackout(clearFirst, clearSecond))
        return true;
    for (int which = 0; which < 2; ++which)
        sendNow(which);
    return true;
}

void DmxOutput::setEnabled(bool on)
{
    if (on == isEnabled())
        return;
    if (on) {
        m_lostMidShow = false;
        if (!tryConnect()) {
            setState(State::NoDaemon);
            m_retry->start(kRetryMs);
        }
        return;
    }
    if (m_state == State::Sending) {
        if (m_settings.blackoutOnExit)
            sendBlackout(m_settings.firstUniverse, m_settings.secondUniverse);
        m_client.disconnectFromDaemon();
    }
    // After the blackout: a daemon lost on its way must not be tried again.
    m_retry->stop();
    stopTimers();
    setState(State::Off);
}

bool DmxOutput::tryConnect()
{
    if (!m_client.connectToDaemon())
        return false;
    m_retry->stop();
    setState(State::Sending);
    for (int which = 0; which < 2 && m_state == State::Sending; ++which) {
        // Whatever came before, the daemon gets the whole picture now.
        m_universes[size_t(which)].sentOnce = false;
        sendNow(which);
    }
    return m_state == State::Sending;
}

void DmxOutput::setLevel(int dmx, int level)
{
    if (dmx < 1 || dmx > kDmxOutputChannels)
        return;
    const int which = (dmx - 1) / kDmxUniverseChannels;
    Universe &u = m_universes[size_t(which)];
    const quint8 value = quint8(std::clamp(level, 0, 255));
    quint8 &slot = u.levels[size_t((dmx - 1) % kDmxUniverseChannels)];
    if (slot == value)
        return;
    slot = value;
    if (m_state != State::Sending)
        return;
    u.pending = true;
    schedule(which);
}

int DmxOutput::level(int dmx) const
{
    if (dmx < 1 || dmx > kDmxOutputChannels)
        return 0;
    return m_universes[size_t((dmx - 1) / kDmxUniverseChannels)].levels[size_t((dmx - 1) % kDmxUniverseChannels)];
}

void DmxOutput::schedule(int which)
{
    Universe &u = m_universes[size_t(which)];
    if (u.pace->isActive())
        return;  // the frame already waiting takes this change along
    const qint64 since = m_timers.nowMs() - u.lastSentMs;
    if (!u.sentOnce || since >= kFrameIntervalMs)
        sendNow(which);
    else
        u.pace->start(int(kFrameIntervalMs - since));
}

void DmxOutput::sendNow(int which)
{
    if (m_state != State::Sending)
        return;
    Universe &u = m_universes[size_t(which)];
    u.pace->stop();
    if (!m_client.sendFrame(universeId(which), u.levels)) {
        daemonLost();
        return;
    }
    u.pending = false;
    u.sentOnce = true;
    u.lastSentMs = m_timers.nowMs();
    u.keepAlive->start(kKeepAliveMs);
    emit frameSent(universeId(which));
}

bool DmxOutput::sendBlackout(unsigned first, unsigned second)
{
    const DmxFrame zeros{};
    for (const unsigned universe : {first, second}) {
        if (universe == ~0u)
            continue;
        if (!m_client.sendFrame(universe, zeros)) {
            daemonLost();
            return false;
        }
        emit frameSent(universe);
    }
    return true;
}

void DmxOutput::stopTimers()
{
    for (Universe &u : m_universes) {
        u.pace->stop();
        u.keepAlive->stop();
    }
}

void DmxOutput::daemonLost()
{
    stopTimers();
    m_client.disconnectFromDaemon();
    m_lostMidShow = true;
    setState(State::NoDaemon);
    m_retry->start(kRetryMs);
}

}  // namespace vl
