#include "protocol.h"

#include "device/tableimage.h"

#include <QFileInfo>
#include <QSerialPort>

#include <poll.h>
#include <sys/ioctl.h>

namespace vl {

namespace {

quint16 bigEndianAt(const QByteArray &bytes, int offset)
{
    return quint16((quint8(bytes.at(offset)) << 8) | quint8(bytes.at(offset + 1)));
}

}  // namespace

bool parseSettingsReply(const QByteArray &chunk, DeviceSettings *settings)
{
    const int at = chunk.indexOf(msg::settingsReply);
    if (at < 0 || chunk.size() - at < kSettingsReplySize)
        return false;
    settings->reserved = bigEndianAt(chunk, at + 17);
    settings->breakTime = bigEndianAt(chunk, at + 19);
    settings->markAfterBreak = bigEndianAt(chunk, at + 21);
    settings->coefficientCode = bigEndianAt(chunk, at + 23);
    settings->sleepCode = bigEndianAt(chunk, at + 25);
    return true;
}

QByteArray authenticationChallenge(const QByteArray &chunk)
{
    const int at = chunk.indexOf(msg::cipher);
    if (at < 0)
        return {};
    const int start = at + msg::cipher.size() + 1;  // the keyword and one separator byte
    if (chunk.size() - start < kChallengeSize)
        return {};
    return chunk.mid(start, kChallengeSize);
}

QByteArrayList authenticationAnswer(const QByteArray &challenge)
{
    if (challenge.size() != kChallengeSize)
        return {};
    return {msg::answerStart, challenge + challenge.at(7), msg::answerEnd};
}

// ---------------------------------------------------------------------------------------

void UploadCollector::reset()
{
    m_buffer.clear();
    m_tail.clear();
    m_endSearchedTo = 0;
    m_collecting = false;
}

QList<QByteArrayList> UploadCollector::feed(const QByteArray &piece, QList<QByteArray> *headers)
{
    const QByteArray &start = msg::imageStart;
    const QByteArray &end = msg::imageEnd;
    QList<QByteArrayList> finished;
    QByteArray data = piece;

    for (;;) {
        if (!m_collecting) {
            // A start marker may begin in the bytes kept from the last piece.
            const QByteArray probe = m_tail + data;
            const int at = probe.indexOf(start);
            if (at < 0) {
                m_tail = probe.right(start.size() - 1);
                return finished;
            }
            m_tail.clear();
            m_buffer = probe.mid(at);
            m_collecting = true;
            m_endSearchedTo = 0;
        } else {
            const int old = m_buffer.size();
            m_buffer += data;
            // A later start marker restarts the collection at the last one.
            int last = -1;
            for (int at = m_buffer.indexOf(start, qMax(1, old - (start.size() - 1))); at >= 0;
                 at = m_buffer.indexOf(start, at + 1))
                last = at;
            if (last > 0) {
                m_buffer.remove(0, last);
                m_endSearchedTo = 0;
            }
        }

        // Look for the end marker in the bytes not searched yet.
        const int from = qMax(kImageHeaderSize, m_endSearchedTo - (end.size() - 1));
        const int at = m_buffer.indexOf(end, from);
        if (at < 0) {
            m_endSearchedTo = m_buffer.size();
            if (m_buffer.size() > kMaxCollected) {
                m_tail = m_buffer.right(start.size() - 1);
                m_buffer.clear();
                m_collecting = false;
            }
            return finished;
        }
        finished << splitRecords(m_buffer.mid(kImageHeaderSize, at - kImageHeaderSize));
        if (headers)
            *headers << m_buffer.left(kImageHeaderSize);
        data = m_buffer.mid(at + end.size());
        m_collecting = false;
        m_endSearchedTo = 0;
        m_tail.clear();
        if (data.isEmpty())
            return finished;
        // Whatever followed the end marker may begin the next upload.
    }
}

// ---------------------------------------------------------------------------------------

ReceiveDispatcher::ReceiveDispatcher(Writer writer, QObject *parent)
    : QObject(parent), m_writer(std::move(writer))
{
    qRegisterMetaType<vl::DeviceSettings>();
}

void ReceiveDispatcher::write(const QByteArray &bytes)
{
    if (m_writer)
        m_writer(bytes);
}

void ReceiveDispatcher::feed(const QByteArray &chunk)
{
    handleTableUpload(chunk);
    handleIdentity(chunk);
    if (chunk.contains(msg::eraseEnd))
        emit eraseFinished();
    handleSettingsReply(chunk);
    handleKeywords(chunk);
}

void ReceiveDispatcher::handleTableUpload(const QByteArray &chunk)
{
    QList<QByteArray> headers;
    const QList<QByteArrayList> uploads = m_collector.feed(chunk, &headers);
    for (int i = 0; i < uploads.size(); ++i)
        emit tableUploaded(uploads.at(i), imageDamage(headers.at(i), uploads.at(i).join()));
}

void ReceiveDispatcher::handleIdentity(const QByteArray &chunk)
{
    const int header = chunk.indexOf(msg::versionHeader);
    if (header >= 0) {
        const int v = header + msg::versionHeader.size() - 1;  // the header ends in its "V"
        const int stop = chunk.indexOf(msg::lineEnd, v);
        if (stop >= 0)
            emit versionReported(QString::fromUtf8(chunk.mid(v, stop - v)));
        return;
    }
    const int model = chunk.indexOf(msg::modelPrefix);
    if (model < 0)
        return;
    const int stop = chunk.indexOf(msg::lineEnd, model);
    if (stop < 0)
        return;
    emit modelReported(QString::fromUtf8(chunk.mid(model, stop - model)));
    write(msg::modelAck);
}

void ReceiveDispatcher::handleSettingsReply(const QByteArray &chunk)
{
    DeviceSettings settings;
    if (parseSettingsReply(chunk, &settings))
        emit settingsReported(settings);
}

void ReceiveDispatcher::handleKeywords(const QByteArray &chunk)
{
    if (chunk.contains(msg::downloadSuccess)) {
        emit imageAccepted();
    } else if (chunk.contains(msg::settingEnd)) {
        write(msg::uploadRequest);
        emit settingAcknowledged();
    } else if (chunk.contains(msg::cipher)) {
        for (const QByteArray &part : authenticationAnswer(authenticationChallenge(chunk)))
            write(part);
    } else if (chunk.contains(msg::openTheDoor)) {
        write(msg::settingRequest);
        emit doorAnswered(true);
    } else if (chunk.contains(msg::closeTheDoor)) {
        emit doorAnswered(false);
    } else if (chunk.contains(msg::ok)) {
        write(msg::settingRequest);
        emit boxAccepted();
    }
}

// ---------------------------------------------------------------------------------------

bool writeInPieces(QSerialPort &port, const QByteArray &data, int pieceSize)
{
    if (pieceSize <= 0)
        return false;
    int offset = 0;
    while (offset < data.size()) {
        const qint64 written = port.write(data.constData() + offset, qMin(pieceSize, data.size() - offset));
        if (written <= 0)
            return false;
        port.flush();
        offset += int(written);
    }
    return true;
}

bool deviceHasGone(const QSerialPort &port)
{
    if (!port.isOpen())
        return false;
    pollfd p{int(port.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return true;
    const QString name = port.portName();
    return !QFileInfo::exists(name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
}

qint64 bytesNotSent(const QSerialPort &port)
{
    if (!port.isOpen())
        return 0;
    int queued = 0;
    if (::ioctl(int(port.handle()), TIOCOUTQ, &queued) != 0 || queued < 0)
        queued = 0;
    return port.bytesToWrite() + queued;
}

bool writeCommand(QSerialPort &port, const QList<PortWrite> &writes)
{
    bool ok = true;
    for (const PortWrite &w : writes) {
        ok = port.write(w.bytes) == w.bytes.size() && ok;
        if (w.flush)
            port.flush();
    }
    return ok;
}

}  // namespace vl
