#include "boxconversation.h"

#include "portio.h"

#include "common/core/oneline.h"
#include "common/core/scheduler.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

namespace vl {

BoxConversation::BoxConversation(QSerialPort &port, QObject *parent) : BoxConversation(port, scheduler(), parent) {}

BoxConversation::BoxConversation(QSerialPort &port, Scheduler &scheduler, QObject *parent)
    : QObject(parent), m_port(port), m_dispatcher([this](const QByteArray &bytes) { write(bytes); })
{
    connect(&m_port, &QSerialPort::readyRead, this, &BoxConversation::receive);
    connect(&m_port, &QSerialPort::errorOccurred, this, &BoxConversation::handlePortError);
    // Bytes going out show the line is moving: a large image takes its time to leave.
    connect(&m_port, &QSerialPort::bytesWritten, this, &BoxConversation::lineMoved);
    connect(&m_port, &QIODevice::aboutToClose, this, &BoxConversation::stopAwaiting);

    m_answerTimer = scheduler.createTimer(this);
    m_answerTimer->setSingleShot(true);
    connect(m_answerTimer, &Timer::timeout, this, [this] {
        m_awaiting = false;
        emit answerOverdue();
    });

    connect(&m_dispatcher, &ReceiveDispatcher::doorAnswered, this, &BoxConversation::doorAnswered);
    connect(&m_dispatcher, &ReceiveDispatcher::boxAccepted, this, &BoxConversation::boxAccepted);
    connect(&m_dispatcher, &ReceiveDispatcher::settingsReported, this, [this](const DeviceSettings &settings) {
        m_settings = settings;
        emit settingsReported(settings);
    });
    connect(&m_dispatcher, &ReceiveDispatcher::tableUploaded, this, &BoxConversation::tableUploaded);
    connect(&m_dispatcher, &ReceiveDispatcher::imageAccepted, this, &BoxConversation::imageAccepted);
    connect(&m_dispatcher, &ReceiveDispatcher::settingAcknowledged, this, &BoxConversation::settingAcknowledged);
    connect(&m_dispatcher, &ReceiveDispatcher::modelReported, this, &BoxConversation::modelReported);
    connect(&m_dispatcher, &ReceiveDispatcher::versionReported, this, &BoxConversation::versionReported);
    connect(&m_dispatcher, &ReceiveDispatcher::eraseFinished, this, &BoxConversation::eraseFinished);
}

const QByteArray &BoxConversation::uploadBuffer() const { return m_dispatcher.collector().buffer(); }

PortOpenFailure BoxConversation::open(const QString &portName, qint32 baudRate)
{
    m_dispatcher.reset();  // a new connection starts a new stream
    if (m_port.isOpen())
        return PortOpenFailure::Other;
    if (portName.isEmpty())
        return PortOpenFailure::NotFound;
    m_port.setPortName(portName);
    m_port.setBaudRate(baudRate, QSerialPort::AllDirections);
    return openSerialPort(m_port);
}

void BoxConversation::close()
{
    if (!m_port.isOpen())
        return;
    m_port.clear(QSerialPort::AllDirections);
    m_port.close();
}

void BoxConversation::closeKeepingOutput()
{
    if (!m_port.isOpen())
        return;
    m_port.flush();
    m_port.close();
}

void BoxConversation::awaitAnswer()
{
    m_awaiting = true;
    m_heard = false;
    m_answerTimer->start(m_answerTimeoutMs);
}

void BoxConversation::stopAwaiting()
{
    m_awaiting = false;
    m_answerTimer->stop();
}

void BoxConversation::lineMoved()
{
    if (m_awaiting)
        m_answerTimer->start(m_answerTimeoutMs);
}

bool BoxConversation::deviceHasGone() const { return vl::deviceHasGone(m_port); }

void BoxConversation::handlePortError(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        // A device that went away shows as ResourceError, or on Linux as endless read
        // errors on a hung-up line. Linux also reports a full output buffer (EAGAIN) as
        // ResourceError; the bytes are still queued then and go out once the line drains,
        // so only a line that is really gone is closed.
        if (deviceHasGone()) {
            m_port.close();
            emit lineLost();
        }
        break;
    case QSerialPort::WriteError: emit writeFailed(); break;
    default: break;
    }
}

void BoxConversation::receive()
{
    if (m_receiving)
        return;
    m_receiving = true;
    while (m_port.isOpen() && m_port.bytesAvailable() > 0) {
        const QByteArray bytes = m_port.readAll();
        if (!bytes.isEmpty()) {
            if (m_awaiting) {
                m_heard = true;
                lineMoved();
            }
            emit bytesReceived(bytes.size());
        }
        m_dispatcher.feed(bytes);
    }
    m_receiving = false;
}

bool BoxConversation::written(bool ok)
{
    if (!ok && m_port.isOpen())
        emit writeFailed();
    return ok;
}

bool BoxConversation::write(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    return written(m_port.write(bytes) == bytes.size());
}

bool BoxConversation::greet() { return write(msg::hello); }

bool BoxConversation::requestSettings() { return write(msg::settingRequest); }

bool BoxConversation::requestTable() { return write(msg::uploadRequest); }

bool BoxConversation::sendImage(const QByteArray &image)
{
    if (!m_port.isOpen())
        return false;
    return written(writeInPieces(m_port, image));
}

bool BoxConversation::sendSetting(DeviceSetting setting, quint16 value)
{
    if (!m_port.isOpen())
        return false;
    return written(writeCommand(m_port, settingsCommand(setting, value)));
}

bool BoxConversation::sendFactoryReset()
{
    if (!m_port.isOpen())
        return false;
    return written(writeCommand(m_port, factoryResetCommand()));
}

bool BoxConversation::requestIdentity() { return write(msg::identifyRequest); }

bool BoxConversation::requestErase() { return write(msg::eraseRequest); }

bool BoxConversation::sendFirmwarePiece(const QByteArray &piece)
{
    if (!m_port.isOpen())
        return false;
    m_port.clearError();
    if (m_port.write(piece) != piece.size())
        return written(false);
    m_port.flush();
    // What the line does not take yet stays queued (a full buffer reads as ResourceError);
    // only a write the device refused is a failure.
    return written(m_port.error() != QSerialPort::WriteError);
}

qint64 BoxConversation::bytesNotSent() const { return vl::bytesNotSent(m_port); }

// ---------------------------------------------------------------------------------------

SetCheck checkForSet(const RuleModel &rules, bool checkRules)
{
    SetCheck check;
    check.rows = rules.rowCount();
    if (check.rows < kRuleRows) {
        check.status = SetCheck::TooFewRows;
        return check;
    }
    if (checkRules) {
        // The box's fields are narrow: a text outside its column would reach it as a
        // different rule, so nothing is sent until every rule is one the box can hold.
        check.problem = findInvalidRule(rules);
        if (check.problem.found()) {
            check.status = SetCheck::InvalidRule;
            return check;
        }
    }
    for (int r = kRuleRows; r < check.rows; ++r) {
        if (rules.isRuleRowEmpty(r))
            continue;
        if (check.rowsLeftOut++ == 0)
            check.firstRowLeftOut = r;
    }
    check.image = encodeTableImage(rules);
    check.status = SetCheck::Ready;
    return check;
}

QString invalidRuleText(const RuleProblem &problem)
{
    return QStringLiteral("Row %1, column \"%2\": \"%3\" is not a valid value.")
        .arg(problem.row + 1)
        .arg(ruleColumnTitle(problem.column), oneLine(problem.text));
}

QString rulesLeftOutText(const SetCheck &check)
{
    if (check.rowsLeftOut <= 0)
        return QString();
    return QStringLiteral("%1 %2 after row %3 cannot be sent (the device holds %3 rules); %4 in row %5.")
        .arg(check.rowsLeftOut)
        .arg(check.rowsLeftOut == 1 ? QStringLiteral("rule") : QStringLiteral("rules"))
        .arg(kRuleRows)
        .arg(check.rowsLeftOut == 1 ? QStringLiteral("it is") : QStringLiteral("the first is"))
        .arg(check.firstRowLeftOut + 1);
}

QList<QStringList> rowsOfUpload(const QByteArrayList &records, int cnum)
{
    QList<QStringList> rows;
    if (!isCompleteUpload(records))
        return rows;
    rows.reserve(kRuleRows);
    for (int row = 0; row < kRuleRows; ++row)
        rows << decodeRuleRecord(records.at(row), row, cnum);
    return rows;
}

}  // namespace vl
