#pragma once

// Writing to the box's serial port and asking the system about it: what the conversation
// with the box (boxconversation.h) does with its port beyond Qt's own calls. POSIX.

#include "settingsframes.h"

#include <QByteArray>
#include <QList>

class QSerialPort;

namespace vl {

// Writes `data` in consecutive pieces of at most `pieceSize` bytes, flushing the port
// after each and advancing by what the port accepted. Returns false as soon as a write
// fails or accepts nothing.
bool writeInPieces(QSerialPort &port, const QByteArray &data, int pieceSize = 256);

// Whether the device behind an open port has gone away: the line was hung up or the
// device node vanished. On Linux a vanished device shows as endless read errors rather
// than ResourceError, so read errors mean the device went only when this holds.
bool deviceHasGone(const QSerialPort &port);

// Bytes written to an open port that have not left it yet: those Qt still holds and those
// in the driver's output queue. 0 for a closed port.
qint64 bytesNotSent(const QSerialPort &port);

// Writes a command's pieces, flushing where the command asks for it. Returns false when
// a write fails.
bool writeCommand(QSerialPort &port, const QList<PortWrite> &writes);

}  // namespace vl
