#include "boxlink.h"

#include "common/core/scheduler.h"
#include "device/core/portaccess.h"
#include "device/core/tableimage.h"

#include <QEventLoop>

namespace vl::cli {

BoxLink::BoxLink(int timeoutMs, QObject *parent) : BoxLink(timeoutMs, vl::scheduler(), parent) {}

BoxLink::BoxLink(int timeoutMs, Scheduler &scheduler, QObject *parent)
    : QObject(parent), m_timeoutMs(timeoutMs), m_box(m_port, scheduler)
{
    m_box.setAnswerTimeout(timeoutMs);
    connect(&m_box, &BoxConversation::doorAnswered, this, [this](bool open) {
        if (open)
            m_doorOpened = true;
        else
            m_doorClosed = true;
    });
    connect(&m_box, &BoxConversation::settingsReported, this, [this] { ++m_settingsReplies; });
    connect(&m_box, &BoxConversation::tableUploaded, this,
            [this](const QByteArrayList &records, const QString &damage) {
                m_uploads << records;
                m_damage << damage;
            });
    connect(&m_box, &BoxConversation::imageAccepted, this, [this] { ++m_imagesAccepted; });
    connect(&m_box, &BoxConversation::settingAcknowledged, this, [this] { ++m_settingEnds; });
    connect(&m_box, &BoxConversation::lineLost, this,
            [this] { fail(QStringLiteral("the box on %1 went away").arg(m_name)); });
    connect(&m_box, &BoxConversation::writeFailed, this, &BoxLink::failToWrite);
    // Whatever the box said, a wait may be over.
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        if (m_wake)
            m_wake();
    });
}

BoxLink::~BoxLink() { close(); }

bool BoxLink::open(const QString &portName)
{
    m_name = portName;
    switch (m_box.open(portName)) {
    case PortOpenFailure::None: return true;
    case PortOpenFailure::NotFound: m_error = QStringLiteral("no such port: %1").arg(portName); break;
    case PortOpenFailure::NoPermission:
        m_error = QStringLiteral("cannot open %1: %2").arg(portName, permissionDeniedLine());
        break;
    case PortOpenFailure::InUse:
        m_error = QStringLiteral("cannot open %1: the port is busy, another program uses it (%2)")
                      .arg(portName, m_port.errorString());
        break;
    default: m_error = QStringLiteral("cannot open %1: %2").arg(portName, m_port.errorString()); break;
    }
    m_failed = true;
    return false;
}

void BoxLink::close() { m_box.close(); }

void BoxLink::fail(const QString &error)
{
    if (!m_failed) {
        m_failed = true;
        m_error = error;
    }
    if (m_wake)
        m_wake();
}

void BoxLink::failToWrite() { fail(QStringLiteral("cannot write to %1: %2").arg(m_name, m_port.errorString())); }

bool BoxLink::waitUntil(const std::function<bool()> &done, const std::function<QString()> &waitingFor)
{
    if (m_failed)
        return false;
    if (!m_port.isOpen()) {
        fail(QStringLiteral("the port is not open"));
        return false;
    }
    QEventLoop loop;
    // The box's time: how long the line has been quiet, not how long the wait has taken.
    const QMetaObject::Connection overdue = connect(&m_box, &BoxConversation::answerOverdue, &loop, [&] {
        fail(QStringLiteral("no answer from the box on %1 within %2 s (waiting for %3)")
                 .arg(m_name, QString::number(m_timeoutMs / 1000.0), waitingFor()));
    });
    m_wake = [&] {
        if (m_failed || done())
            loop.quit();
    };
    m_box.awaitAnswer();
    // Anything already received (or a failure already reported) ends the wait at once.
    m_box.receive();
    if (!m_failed && !done())
        loop.exec();
    m_box.stopAwaiting();
    disconnect(overdue);
    m_wake = nullptr;
    return !m_failed && done();
}

bool BoxLink::connectToBox()
{
    m_doorOpened = m_doorClosed = false;
    const int before = m_settingsReplies;
    const bool ok = sent(m_box.greet())
                    && waitUntil([&] { return m_doorClosed || m_settingsReplies > before; },
                                 [&] {
                                     return m_doorOpened ? QStringLiteral("the settings reply")
                                                         : QStringLiteral("the answer to \"hello\"");
                                 });
    if (ok && m_doorClosed && m_settingsReplies == before) {
        fail(QStringLiteral("the box refused the connection: Failed to connect because no product model was "
                            "specified"));
        return false;
    }
    return ok;
}

bool BoxLink::readTable(QByteArrayList *records, bool acceptDamaged, QString *damage)
{
    const int before = m_uploads.size();
    if (!sent(m_box.requestTable())
        || !waitUntil([&] { return m_uploads.size() > before; }, [] { return QStringLiteral("the table"); }))
        return false;
    const QByteArrayList &groups = m_uploads.last();
    if (!isCompleteUpload(groups)) {
        fail(QStringLiteral("the box sent an incomplete table (%1 bytes of records instead of %2); nothing was read")
                 .arg(groups.join().size())
                 .arg(kRecordAreaSize));
        return false;
    }
    const QString &found = m_damage.last();
    if (damage)
        *damage = found;
    if (!found.isEmpty() && !acceptDamaged) {
        fail(QStringLiteral("the table read from the box is damaged: %1; nothing was written "
                            "(--ignore-checksum saves it all the same)")
                 .arg(found));
        return false;
    }
    *records = groups;
    return true;
}

bool BoxLink::sent(bool ok)
{
    if (!ok && !m_failed)
        fail(QStringLiteral("the port is not open"));
    return ok && !m_failed;
}

bool BoxLink::writeImage(const QByteArray &image)
{
    const int before = m_imagesAccepted;
    if (m_failed || !sent(m_box.sendImage(image)))
        return false;
    return waitUntil([&] { return m_imagesAccepted > before; }, [] { return QStringLiteral("\"download success\""); });
}

bool BoxLink::settingCommand(const std::function<bool()> &send)
{
    const int ends = m_settingEnds;
    const int uploads = m_uploads.size();
    m_acknowledged = false;
    if (m_failed || !sent(send()))
        return false;
    if (!waitUntil([&] { return m_settingEnds > ends; }, [] { return QStringLiteral("\"setting end\""); }))
        return false;
    m_acknowledged = true;
    // Receiving "setting end" made the conversation ask for the table.
    return waitUntil([&] { return m_uploads.size() > uploads; },
                     [] { return QStringLiteral("the table the box sends after a setting"); });
}

bool BoxLink::sendSetting(DeviceSetting setting, quint16 value)
{
    return settingCommand([&] { return m_box.sendSetting(setting, value); });
}

bool BoxLink::sendFactoryReset()
{
    return settingCommand([&] { return m_box.sendFactoryReset(); });
}

bool BoxLink::refreshSettings()
{
    const int before = m_settingsReplies;
    return sent(m_box.requestSettings())
           && waitUntil([&] { return m_settingsReplies > before; },
                        [] { return QStringLiteral("the settings reply"); });
}

}  // namespace vl::cli
