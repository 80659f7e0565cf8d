#include "firmwaretransfer.h"

#include "common/core/scheduler.h"
#include "device/core/boxconversation.h"

namespace vl::firmware {

int progressRule(qint64 sent, qint64 size)
{
    if (size <= 0)
        return 0;
    const double p = double(sent) / double(size) * 100.0;
    if (p > 98.0 && p < 100.0)
        return 100;
    return int(p);
}

QString imageProblem(qint64 size, const QString &name)
{
    if (size <= 0)
        return QStringLiteral("The firmware file %1 is empty. Nothing was sent to the device.").arg(name);
    if (size > kLargestImage)
        return QStringLiteral("The firmware file %1 is larger than %2 MiB and cannot be the device's firmware. "
                              "Nothing was sent to the device.")
            .arg(name)
            .arg(kLargestImage >> 20);
    return {};
}

FirmwareLine::~FirmwareLine() = default;

bool ConversationLine::writePiece(const QByteArray &piece) { return m_box.sendFirmwarePiece(piece); }

qint64 ConversationLine::bytesNotSent() const { return m_box.bytesNotSent(); }

bool ConversationLine::isGone() const { return !m_box.isOpen() || m_box.deviceHasGone(); }

QString ConversationLine::errorText() const { return m_box.port().errorString(); }

FirmwareTransfer::FirmwareTransfer(FirmwareLine &line, QObject *parent)
    : QObject(parent), m_line(line), m_clock(scheduler()), m_timer(m_clock.createTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &Timer::timeout, this, &FirmwareTransfer::step);
}

void FirmwareTransfer::start(const QByteArray &image)
{
    m_timer->stop();
    m_image = image;
    m_sent = 0;
    m_pieces = 0;
    m_rule = 0;
    m_failure = Failure::None;
    m_error.clear();
    m_next = m_image.left(kPieceSize);
    if (m_image.isEmpty()) {
        m_state = State::Idle;
        return;
    }
    m_state = State::Sending;
    m_lastMovedAt = m_clock.nowMs();
    m_lastNotSent = 0;
    step();
}

void FirmwareTransfer::stop()
{
    if (!isRunning())
        return;
    m_timer->stop();
    m_state = State::Stopped;
}

void FirmwareTransfer::lineLost()
{
    if (isRunning())
        fail(Failure::LineLost);
}

void FirmwareTransfer::step()
{
    if (!isRunning())
        return;
    if (m_line.isGone()) {
        fail(Failure::LineLost);
        return;
    }
    const qint64 notSent = m_line.bytesNotSent();
    if (notSent > 0) {
        waitForPort(notSent);
        return;
    }
    if (m_state == State::Sending) {
        if (!m_line.writePiece(m_next)) {
            fail(m_line.isGone() ? Failure::LineLost : Failure::WriteFailed);
            return;
        }
        m_sent += m_next.size();
        ++m_pieces;
        m_lastMovedAt = m_clock.nowMs();
        m_lastNotSent = 0;
        m_next = m_image.mid(int(m_sent), kPieceSize);
        if (m_sent < m_image.size()) {
            // Timed from the write, before anyone is told about it.
            m_timer->start(kPieceIntervalMs);
            m_rule = progressRule(m_sent, m_image.size());
            emit pieceWritten(m_sent);
            emit progressChanged(m_rule == 100 ? 99 : m_rule);
            return;
        }
        emit pieceWritten(m_sent);
        m_state = State::Draining;
        // The last piece may still be on its way out.
        const qint64 rest = m_line.bytesNotSent();
        if (rest > 0) {
            waitForPort(rest);
            return;
        }
    }
    // Every byte has left the port.
    m_state = State::Done;
    const bool hundred = m_rule == 100;
    if (hundred)
        emit progressChanged(100);
    emit finished(hundred);
}

void FirmwareTransfer::waitForPort(qint64 notSent)
{
    const qint64 now = m_clock.nowMs();
    if (notSent < m_lastNotSent)  // the port took some
        m_lastMovedAt = now;
    m_lastNotSent = notSent;
    if (now - m_lastMovedAt >= kStallMs) {
        fail(Failure::Stalled);
        return;
    }
    m_timer->start(kPortCheckMs);
}

void FirmwareTransfer::fail(Failure failure)
{
    m_timer->stop();
    m_state = State::Failed;
    m_failure = failure;
    switch (failure) {
    case Failure::LineLost:
        m_error = QStringLiteral("The device went away after %1 of %2 bytes of the firmware.")
                      .arg(m_sent)
                      .arg(m_image.size());
        break;
    case Failure::WriteFailed:
        m_error = QStringLiteral("Writing to the device failed after %1 of %2 bytes of the firmware: %3")
                      .arg(m_sent)
                      .arg(m_image.size())
                      .arg(m_line.errorText());
        break;
    case Failure::Stalled:
        m_error = QStringLiteral("The device took no data for %1 s after %2 of %3 bytes of the firmware.")
                      .arg(kStallMs / 1000)
                      .arg(m_sent)
                      .arg(m_image.size());
        break;
    case Failure::None: break;
    }
    emit failed(failure);
}

}  // namespace vl::firmware
