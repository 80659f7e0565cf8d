#pragma once

// Sending a firmware image to the box's bootloader once it has erased its flash. The image
// goes out in pieces of 64 bytes, each written and flushed; the next piece follows 10 ms
// after the last one on a timer of the scheduler (tests step it), and never before the
// last piece has left the port. There is no acknowledgement per piece: the box takes
// whatever arrives after its erase.
//
// What the progress bar shows follows the upgrade's progress rule (progressRule()): after
// each piece with bytes still to come, the share sent so far, shown as 100 once it is
// above 98 %. The success message depends on that rule having reached 100 before the
// last piece, so an image whose last piece is 2 % of it or more (any image of 64 bytes or
// less, for one) ends without it. The bar itself shows 99 in place of 100 until every byte
// has left the port, and 100 only then.
//
// A transfer ends early, once and without further pieces, when a write fails, when the
// device goes away (looked at before every piece and whenever the link reports it) and
// when the port takes nothing for kStallMs.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace vl {
class BoxConversation;
class Scheduler;
class Timer;
}  // namespace vl

namespace vl::firmware {

constexpr int kPieceSize = 64;
constexpr int kPieceIntervalMs = 10;
// No firmware of the box comes near this; a larger file is not its firmware.
constexpr qint64 kLargestImage = qint64(2) << 20;
// While a piece has not left the port, how often the transfer looks again.
constexpr int kPortCheckMs = 1;
// A port that takes no byte for this long ends the transfer.
constexpr int kStallMs = 5000;

// The percentage of `sent` in `size` as a floating-point number, shown as 100 when it is
// above 98 and below 100, otherwise truncated to an integer.
int progressRule(qint64 sent, qint64 size);

// Why an image of `size` bytes may not be sent (it is empty, or over kLargestImage);
// empty when it may. `name` names the file in the text.
QString imageProblem(qint64 size, const QString &name);

// The line the pieces go out on.
class FirmwareLine {
public:
    virtual ~FirmwareLine();
    // Writes and flushes one piece; false when the port refused it.
    virtual bool writePiece(const QByteArray &piece) = 0;
    // Bytes written that have not left the port yet.
    virtual qint64 bytesNotSent() const = 0;
    // Whether the device has gone away (or the port was closed under the transfer).
    virtual bool isGone() const = 0;
    // Why the last write failed.
    virtual QString errorText() const = 0;
};

// The line of the conversation with the box: the same writes the receive dispatcher's
// replies go out through.
class ConversationLine final : public FirmwareLine {
public:
    explicit ConversationLine(BoxConversation &box) : m_box(box) {}
    bool writePiece(const QByteArray &piece) override;
    qint64 bytesNotSent() const override;
    bool isGone() const override;
    QString errorText() const override;

private:
    BoxConversation &m_box;
};

class FirmwareTransfer : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,      // nothing started
        Sending,   // pieces going out
        Draining,  // every piece written, waiting for the last bytes to leave the port
        Done,      // every byte out (finished() was emitted)
        Failed,    // ended early (failed() was emitted)
        Stopped,   // stop() was called
    };
    Q_ENUM(State)
    enum class Failure { None, WriteFailed, LineLost, Stalled };
    Q_ENUM(Failure)

    // `line` must outlive the transfer. Timers come from the scheduler in use now.
    explicit FirmwareTransfer(FirmwareLine &line, QObject *parent = nullptr);

    // Starts over with `image`: the first piece goes out at once. An empty image sends
    // nothing.
    void start(const QByteArray &image);
    // Ends a running transfer without a word.
    void stop();
    // The link reports that the device went away.
    void lineLost();

    State state() const { return m_state; }
    bool isRunning() const { return m_state == State::Sending || m_state == State::Draining; }
    Failure failure() const { return m_failure; }
    // Why the transfer failed, for the user.
    QString errorText() const { return m_error; }
    qint64 size() const { return m_image.size(); }
    qint64 bytesSent() const { return m_sent; }
    int piecesSent() const { return m_pieces; }
    // What the progress rule last said (0 before the first piece).
    int ruleValue() const { return m_rule; }

signals:
    // One more piece written; `bytesSent` in all.
    void pieceWritten(qint64 bytesSent);
    // What the progress bar shows now.
    void progressChanged(int percent);
    // Every byte has left the port. `reachedHundred`: the rule showed 100 before the last piece.
    void finished(bool reachedHundred);
    void failed(vl::firmware::FirmwareTransfer::Failure failure);

private:
    void step();
    void waitForPort(qint64 notSent);
    void fail(Failure failure);

    FirmwareLine &m_line;
    Scheduler &m_clock;
    Timer *m_timer;
    State m_state = State::Idle;
    Failure m_failure = Failure::None;
    QString m_error;
    QByteArray m_image;
    QByteArray m_next;
    qint64 m_sent = 0;
    int m_pieces = 0;
    int m_rule = 0;
    qint64 m_lastMovedAt = 0;  // when the port last took a byte
    qint64 m_lastNotSent = 0;
};

}  // namespace vl::firmware
