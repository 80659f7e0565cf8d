#include "boxlink.h"

#include "device/portaccess.h"
#include "device/tableimage.h"

#include <QEventLoop>
#include <QTimer>

namespace vl::cli {

Interrupter &Interrupter::instance()
{
    static Interrupter interrupter;
    return interrupter;
}

BoxLink::BoxLink(int timeoutMs, QObject *parent)
    : QObject(parent),
      m_timeoutMs(timeoutMs),
      m_dispatcher([this](const QByteArray &bytes) { send(bytes); })
{
    connect(&m_port, &QSerialPort::readyRead, this, &BoxLink::readAvailable);
    connect(&m_port, &QSerialPort::errorOccurred, this, &BoxLink::portError);

    connect(&m_dispatcher, &ReceiveDispatcher::sure_open, this, [this](bool open) {
        if (!m_connecting)
            return;
        if (open) {
            m_doorOpened = true;
            send(msg::settingRequest);
        } else {
            m_doorClosed = true;
        }
    });
    connect(&m_dispatcher, &ReceiveDispatcher::sure_connect, this, [this](bool sure) {
        if (sure && m_connecting)
            send(msg::settingRequest);
    });
    connect(&m_dispatcher, &ReceiveDispatcher::settingsReceived, this, [this](const DeviceSettings &s) {
        m_settings = s;
        ++m_settingsReplies;
    });
    connect(&m_dispatcher, &ReceiveDispatcher::showdata, this,
            [this](const QByteArrayList &groups) { m_uploads << groups; });
    connect(&m_dispatcher, &ReceiveDispatcher::downloadSucceeded, this, [this] { ++m_downloadSuccesses; });
    connect(&m_dispatcher, &ReceiveDispatcher::settingEndReceived, this, [this] { ++m_settingEnds; });
}

BoxLink::~BoxLink() { close(); }

bool BoxLink::open(const QString &portName)
{
    m_name = portName;
    m_port.setPortName(portName);
    m_port.setBaudRate(115200, QSerialPort::AllDirections);
    switch (openSerialPort(m_port)) {
    case PortOpenFailure::None:
        return true;
    case PortOpenFailure::NotFound:
        m_error = QStringLiteral("no such port: %1").arg(portName);
        break;
    case PortOpenFailure::NoPermission:
        m_error = QStringLiteral("cannot open %1: %2").arg(portName, permissionDeniedLine());
        break;
    case PortOpenFailure::InUse:
        m_error = QStringLiteral("cannot open %1: the port is busy, another program uses it (%2)")
                      .arg(portName, m_port.errorString());
        break;
    default:
        m_error = QStringLiteral("cannot open %1: %2").arg(portName, m_port.errorString());
        break;
    }
    m_failed = true;
    return false;
}

void BoxLink::close()
{
    if (m_port.isOpen()) {
        m_port.clear(QSerialPort::AllDirections);
        m_port.close();
    }
}

void BoxLink::fail(const QString &error)
{
    if (!m_failed) {
        m_failed = true;
        m_error = error;
    }
    if (m_wake)
        m_wake();
}

bool BoxLink::send(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    if (m_port.write(bytes) != bytes.size()) {
        fail(QStringLiteral("cannot write to %1: %2").arg(m_name, m_port.errorString()));
        return false;
    }
    return true;
}

void BoxLink::readAvailable()
{
    while (m_port.isOpen() && m_port.bytesAvailable() > 0)
        m_dispatcher.feed(m_port.readAll());
    if (m_wake)
        m_wake();
}

void BoxLink::portError(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        // A full output buffer also shows as ResourceError; only a line that is really
        // gone ends the conversation.
        if (deviceHasGone(m_port)) {
            m_port.close();
            fail(QStringLiteral("the box on %1 went away").arg(m_name));
        }
        break;
    case QSerialPort::WriteError:
        fail(QStringLiteral("cannot write to %1: %2").arg(m_name, m_port.errorString()));
        break;
    default:
        break;
    }
}

bool BoxLink::waitUntil(const std::function<bool()> &done, const std::function<QString()> &waitingFor)
{
    if (m_failed)
        return false;
    if (!m_port.isOpen()) {
        fail(QStringLiteral("the port is not open"));
        return false;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        fail(QStringLiteral("no answer from the box on %1 within %2 s (waiting for %3)")
                 .arg(m_name, QString::number(m_timeoutMs / 1000.0), waitingFor()));
    });
    // Bytes going out show the line is moving; the box's time starts once they are sent.
    connect(&m_port, &QSerialPort::bytesWritten, &timer, [&] { timer.start(m_timeoutMs); });
    connect(&Interrupter::instance(), &Interrupter::interrupted, &loop,
            [&] { fail(QStringLiteral("interrupted")); });
    m_wake = [&] {
        if (m_failed || done())
            loop.quit();
    };
    timer.start(m_timeoutMs);
    // Anything already received (or a failure already reported) ends the wait at once.
    readAvailable();
    if (!m_failed && !done())
        loop.exec();
    m_wake = nullptr;
    return !m_failed && done();
}

bool BoxLink::connectToBox()
{
    m_connecting = true;
    m_doorOpened = m_doorClosed = false;
    const int before = m_settingsReplies;
    const bool sent = send(msg::hello);
    const bool ok = sent && waitUntil([&] { return m_doorClosed || m_settingsReplies > before; }, [&] {
        return m_doorOpened ? QStringLiteral("the settings reply") : QStringLiteral("the answer to \"hello\"");
    });
    m_connecting = false;
    if (ok && m_doorClosed && m_settingsReplies == before) {
        fail(QStringLiteral("the box refused the connection: Failed to connect because no product model was "
                            "specified"));
        return false;
    }
    return ok;
}

bool BoxLink::readTable(QByteArrayList *records)
{
    const int before = m_uploads.size();
    if (!send(msg::uploadRequest)
        || !waitUntil([&] { return m_uploads.size() > before; }, [] { return QStringLiteral("the table"); }))
        return false;
    const QByteArrayList &groups = m_uploads.last();
    if (!isCompleteUpload(groups)) {
        fail(QStringLiteral("the box sent an incomplete table (%1 bytes of records instead of %2); nothing was read")
                 .arg(groups.join().size())
                 .arg(kRecordAreaSize));
        return false;
    }
    *records = groups;
    return true;
}

bool BoxLink::writeImage(const QByteArray &image)
{
    const int before = m_downloadSuccesses;
    if (m_failed)
        return false;
    if (!writeInPieces(m_port, image)) {
        fail(QStringLiteral("cannot write to %1: %2").arg(m_name, m_port.errorString()));
        return false;
    }
    return waitUntil([&] { return m_downloadSuccesses > before; },
                     [] { return QStringLiteral("\"download success\""); });
}

bool BoxLink::sendSettingsCommand(const QList<PortWrite> &writes)
{
    const int ends = m_settingEnds;
    const int uploads = m_uploads.size();
    if (m_failed)
        return false;
    if (!writeCommand(m_port, writes)) {
        fail(QStringLiteral("cannot write to %1: %2").arg(m_name, m_port.errorString()));
        return false;
    }
    if (!waitUntil([&] { return m_settingEnds > ends; }, [] { return QStringLiteral("\"setting end\""); }))
        return false;
    // Receiving "setting end" made the dispatcher ask for the table.
    return waitUntil([&] { return m_uploads.size() > uploads; },
                     [] { return QStringLiteral("the table the box sends after a setting"); });
}

bool BoxLink::refreshSettings()
{
    const int before = m_settingsReplies;
    return send(msg::settingRequest)
           && waitUntil([&] { return m_settingsReplies > before; },
                        [] { return QStringLiteral("the settings reply"); });
}

}  // namespace vl::cli
