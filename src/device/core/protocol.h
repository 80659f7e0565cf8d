#pragma once

// The messages between the editor and the box. There is no framing: the editor sends
// ASCII keywords and short byte commands, and recognises the box's replies by searching
// every received chunk for their bytes. The one exception is the table upload, which is
// collected across however many pieces the link delivers it in.
//
// Nothing here needs a widget; the editor's SerialPort and the command-line tool both feed
// received bytes into a ReceiveDispatcher.

#include "settingsframes.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <functional>

namespace vl {

// The box's line: 115 200 baud, 8 data bits, no parity, 1 stop bit, no flow control.
constexpr qint32 kBoxBaudRate = 115200;

namespace msg {
// Editor to box.
inline const QByteArray hello = QByteArrayLiteral("hello");
inline const QByteArray settingRequest = QByteArrayLiteral("setting request");
inline const QByteArray uploadRequest = QByteArrayLiteral("upload request");
inline const QByteArray modelAck = QByteArrayLiteral("\xAA\xCC\x02\x00\x03\x0D\x0A");
inline const QByteArray identifyRequest = QByteArrayLiteral("\xAA\xCC\x02\x00\x01\x0D\x0A");
inline const QByteArray eraseRequest = QByteArrayLiteral("\xAA\xCC\x02\x00\x02\x0D\x0A");
inline const QByteArray answerStart = QByteArrayLiteral("give you");
inline const QByteArray answerEnd = QByteArrayLiteral("nxxxxx");
// The table image's own markers ("download request", "end of data") are tableimage.h's.
// Box to editor.
inline const QByteArray versionHeader = QByteArrayLiteral("\xAA\xCC\x06\x56");
inline const QByteArray modelPrefix = QByteArrayLiteral("KVR-");
inline const QByteArray lineEnd = QByteArrayLiteral("\r\n");
inline const QByteArray eraseEnd = QByteArrayLiteral("ERASE END");
inline const QByteArray settingsReply = QByteArrayLiteral("setting request");
inline const QByteArray downloadSuccess = QByteArrayLiteral("download success");
inline const QByteArray settingEnd = QByteArrayLiteral("setting end");
inline const QByteArray cipher = QByteArrayLiteral("cipher");
inline const QByteArray openTheDoor = QByteArrayLiteral("open the door");
inline const QByteArray closeTheDoor = QByteArrayLiteral("close the door");
inline const QByteArray ok = QByteArrayLiteral("ok");
}  // namespace msg

// A settings reply holds its values at fixed offsets from its "setting request" keyword,
// each a 16-bit big-endian number; a reply cut short gives nothing. The offsets count from
// the keyword, not from the start of the chunk, so a reply that arrives in one piece with
// bytes before it still gives its own values.
constexpr int kSettingsReplySize = 27;
bool parseSettingsReply(const QByteArray &chunk, DeviceSettings *settings);

// The challenge of a "cipher" chunk: the 16 bytes after the keyword and one separator
// byte; empty when the chunk holds no "cipher" or too few bytes after it.
constexpr int kChallengeSize = 16;
QByteArray authenticationChallenge(const QByteArray &chunk);
// The three writes that answer a challenge: "give you", the challenge followed by its
// eighth byte once more, "nxxxxx".
QByteArrayList authenticationAnswer(const QByteArray &challenge);

// Collects a table upload from the byte stream. A collection starts at "download" and
// ends at the first "end of data" that starts 256 bytes or more after it. A "download"
// that arrives before that end restarts the collection there, so an upload the box broke
// off is dropped and the one it starts next is taken whole, and the "download request"
// after a "download success" is where its image starts. The record area between the
// header and "end of data" comes out as 8-byte groups (a shorter last group included),
// however many there are; the caller decides whether they make a whole table. A
// collection that reaches kMaxCollected bytes without its end is dropped, so a babbling
// line cannot fill memory.
//
// The stream is read as if byte by byte: whatever pieces the link cuts it into, the same
// uploads come out, each from the piece that holds the last byte of its "end of data".
class UploadCollector {
public:
    static constexpr int kMaxCollected = 64 * 1024;

    // Feeds the next piece of the stream; returns the record groups of every upload that
    // ended in it (normally none or one). `headers`, when given, receives the 256-byte
    // header of each of them, which carries the checksum; `ends` the offset in `piece` just
    // after each one's "end of data".
    QList<QByteArrayList> feed(const QByteArray &piece, QList<QByteArray> *headers = nullptr,
                               QList<int> *ends = nullptr);
    bool isCollecting() const { return m_collecting; }
    // The upload collected so far, starting at its "download".
    const QByteArray &buffer() const { return m_buffer; }
    // Forgets everything, including a partly collected upload.
    void reset();

private:
    QByteArray m_buffer;
    QByteArray m_tail;  // the last bytes seen while idle, for a start marker cut in two
    bool m_collecting = false;
};

// Recognises what the box sends in the byte stream, whatever pieces the link delivers it
// in, and hands it on through signals: table uploads (UploadCollector), version and model
// replies, "ERASE END", settings replies and the keywords. Every reply is looked for
// everywhere, table uploads included, and each one found is acted on once, in the order
// in which the stream completes them; a reply split across pieces counts like a whole
// one. A version or model reply is the text from its "V" or "KVR-" to the next "\r\n",
// at most kMaxReplyLine bytes; a line that is a version reply gives no model reply. A
// settings reply or an authentication challenge counts once all of its bytes are in.
// The replies the protocol itself sends go out through the writer, in the same order:
// "setting request" when the box opens the door or accepts the editor ("ok"), the model
// acknowledgement, "upload request" after "setting end" and the answer to a challenge.
class ReceiveDispatcher : public QObject {
    Q_OBJECT
public:
    using Writer = std::function<void(const QByteArray &bytes)>;
    static constexpr int kMaxReplyLine = 64;

    explicit ReceiveDispatcher(Writer writer, QObject *parent = nullptr);

    void feed(const QByteArray &chunk);
    // Forgets every byte seen so far (a new connection starts a new stream).
    void reset();

    UploadCollector &collector() { return m_collector; }
    const UploadCollector &collector() const { return m_collector; }

signals:
    // The 8-byte records of a finished table upload, however many there are. `damage` says
    // what shows the upload was damaged on its way (see imageDamage()); empty when nothing
    // does.
    void tableUploaded(const QByteArrayList &records, const QString &damage);
    // A version reply: "V" and the version number.
    void versionReported(const QString &version);
    // A model reply, e.g. "KVR-9000"; it has been acknowledged.
    void modelReported(const QString &model);
    // "ERASE END": the box in upgrade mode has erased its flash.
    void eraseFinished();
    void settingsReported(const vl::DeviceSettings &settings);
    // "download success": the box took the table image.
    void imageAccepted();
    // "setting end": the box carried out a settings command; the table has been asked for.
    void settingAcknowledged();
    // "open the door" (the settings have been asked for) or "close the door".
    void doorAnswered(bool open);
    // "ok": the box accepted the editor; the settings have been asked for again.
    void boxAccepted();

private:
    struct Reply;
    void write(const QByteArray &bytes);

    Writer m_writer;
    UploadCollector m_collector;
    QByteArray m_carry;  // the last bytes of the stream, where a reply may have begun
};

}  // namespace vl

Q_DECLARE_METATYPE(vl::DeviceSettings)
