#include "portio.h"

#include <QFileInfo>
#include <QSerialPort>

#include <poll.h>
#include <sys/ioctl.h>

namespace vl {

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
