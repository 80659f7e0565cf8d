#include "protocol.h"

#include "tableimage.h"

#include <algorithm>
#include <climits>
#include <vector>

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
    m_collecting = false;
}

QList<QByteArrayList> UploadCollector::feed(const QByteArray &piece, QList<QByteArray> *headers, QList<int> *ends)
{
    const QByteArray &start = msg::imageStart;
    const QByteArray &end = msg::imageEnd;
    QList<QByteArrayList> finished;
    int pos = 0;  // how much of the piece has been taken

    // Each turn takes the stream up to the next thing that happens in it: a start marker,
    // a restart, the end of an upload or the size limit. Markers count where their last
    // byte is, so it does not matter where the pieces were cut.
    while (pos < piece.size()) {
        if (!m_collecting) {
            // A start marker may begin in the bytes kept from the last piece.
            const QByteArray probe = m_tail + QByteArray::fromRawData(piece.constData() + pos, piece.size() - pos);
            const int at = probe.indexOf(start);
            if (at < 0) {
                m_tail = probe.right(start.size() - 1);
                break;
            }
            pos += at + start.size() - m_tail.size();
            m_tail.clear();
            m_buffer = start;
            m_collecting = true;
            continue;
        }

        const int old = m_buffer.size();
        m_buffer.append(piece.constData() + pos, piece.size() - pos);
        // Markers that end in the bytes just added: a later start marker, and an end marker
        // at least a header's length after the start.
        const int restart = m_buffer.indexOf(start, qMax(1, old - (start.size() - 1)));
        const int restartDone = restart < 0 ? INT_MAX : restart + start.size();
        const int stop = m_buffer.indexOf(end, qMax(kImageHeaderSize, old - (end.size() - 1)));
        const int stopDone = stop < 0 ? INT_MAX : stop + end.size();
        const int next = qMin(restartDone, stopDone);

        if (next > kMaxCollected) {
            if (m_buffer.size() <= kMaxCollected)
                break;  // the whole piece is collected; the upload goes on
            // The limit comes first: give the collection up and look for a start marker
            // again in what follows, including one that began just before the limit.
            const int beyond = m_buffer.size() - kMaxCollected;
            m_tail = m_buffer.mid(kMaxCollected - (start.size() - 1), start.size() - 1);
            m_buffer.clear();
            m_collecting = false;
            pos = piece.size() - beyond;
            continue;
        }

        pos = piece.size() - (m_buffer.size() - next);  // the rest of the piece comes next
        if (restartDone < stopDone) {
            m_buffer = start;
        } else {
            finished << splitRecords(m_buffer.mid(kImageHeaderSize, stop - kImageHeaderSize));
            if (headers)
                *headers << m_buffer.left(kImageHeaderSize);
            if (ends)
                *ends << pos;
            m_buffer.clear();
            m_collecting = false;
        }
    }
    return finished;
}

// ---------------------------------------------------------------------------------------

namespace {

// What the dispatcher found in the stream. The rank orders replies that end on the same
// byte; it follows the order in which a chunk used to pass the handlers.
enum class ReplyKind {
    Upload,
    Version,
    Model,
    EraseEnd,
    Settings,
    DownloadSuccess,
    SettingEnd,
    Cipher,
    OpenTheDoor,
    CloseTheDoor,
    Ok,
};

constexpr int kVersionAt = 3;                                // the "V" that ends the version header
constexpr int kChallengeReplySize = 6 + 1 + kChallengeSize;  // "cipher", a separator, the challenge
// Replies are recognised within the carried bytes and the new chunk; the longest one is
// a version reply of the longest line.
constexpr int kLongestReply = kVersionAt + ReceiveDispatcher::kMaxReplyLine + 2;
constexpr int kCarry = kLongestReply - 1;
static_assert(kCarry >= kSettingsReplySize - 1 && kCarry >= kChallengeReplySize - 1, "replies fit the carry");

// The end of the line reply whose text starts at `text`: just after its "\r\n", or -1
// when the window holds no line end close enough.
int lineReplyEnd(const QByteArray &window, int text)
{
    const int stop = window.indexOf(msg::lineEnd, text + 1);
    if (stop < 0 || stop - text > ReceiveDispatcher::kMaxReplyLine)
        return -1;
    return stop + msg::lineEnd.size();
}

}  // namespace

struct ReceiveDispatcher::Reply {
    int end;  // just after its last byte, in the window
    ReplyKind kind;
    int start;  // its first byte, in the window; for an upload the index of its groups
};

ReceiveDispatcher::ReceiveDispatcher(Writer writer, QObject *parent) : QObject(parent), m_writer(std::move(writer))
{
    qRegisterMetaType<vl::DeviceSettings>();
}

void ReceiveDispatcher::write(const QByteArray &bytes)
{
    if (m_writer)
        m_writer(bytes);
}

void ReceiveDispatcher::reset()
{
    m_collector.reset();
    m_carry.clear();
}

void ReceiveDispatcher::feed(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    // The chunk behind the last bytes of the stream: a reply counts in the chunk that holds
    // its last byte, so every reply is found once, wherever the stream was cut.
    const QByteArray window = m_carry + chunk;
    const int fresh = m_carry.size();
    std::vector<Reply> replies;

    QList<QByteArray> uploadHeaders;
    QList<int> uploadEnds;
    const QList<QByteArrayList> uploads = m_collector.feed(chunk, &uploadHeaders, &uploadEnds);
    for (int i = 0; i < uploads.size(); ++i)
        replies.push_back({fresh + uploadEnds.at(i), ReplyKind::Upload, i});

    // Keywords whose last byte is new, and replies of a fixed size whose last byte is new.
    const auto find = [&](const QByteArray &word, int size, ReplyKind kind) {
        for (int at = window.indexOf(word, qMax(0, fresh - size + 1)); at >= 0; at = window.indexOf(word, at + 1)) {
            if (at + size > window.size())
                break;
            replies.push_back({at + size, kind, at});
        }
    };
    find(msg::eraseEnd, msg::eraseEnd.size(), ReplyKind::EraseEnd);
    find(msg::settingsReply, kSettingsReplySize, ReplyKind::Settings);
    find(msg::downloadSuccess, msg::downloadSuccess.size(), ReplyKind::DownloadSuccess);
    find(msg::settingEnd, msg::settingEnd.size(), ReplyKind::SettingEnd);
    find(msg::cipher, kChallengeReplySize, ReplyKind::Cipher);
    find(msg::openTheDoor, msg::openTheDoor.size(), ReplyKind::OpenTheDoor);
    find(msg::closeTheDoor, msg::closeTheDoor.size(), ReplyKind::CloseTheDoor);
    find(msg::ok, msg::ok.size(), ReplyKind::Ok);

    // Line replies whose "\r\n" is new. A line that is a version reply is no model reply,
    // wherever its "KVR-" stands.
    const int lineFrom = qMax(0, fresh - kLongestReply + 1);
    std::vector<int> versionEnds;
    for (int at = window.indexOf(msg::versionHeader, lineFrom); at >= 0;
         at = window.indexOf(msg::versionHeader, at + 1)) {
        const int end = lineReplyEnd(window, at + kVersionAt);
        if (end > fresh) {
            replies.push_back({end, ReplyKind::Version, at});
            versionEnds.push_back(end);
        }
    }
    for (int at = window.indexOf(msg::modelPrefix, lineFrom); at >= 0; at = window.indexOf(msg::modelPrefix, at + 1)) {
        const int end = lineReplyEnd(window, at);
        if (end > fresh && std::find(versionEnds.begin(), versionEnds.end(), end) == versionEnds.end())
            replies.push_back({end, ReplyKind::Model, at});
    }

    std::sort(replies.begin(), replies.end(), [](const Reply &a, const Reply &b) {
        if (a.end != b.end)
            return a.end < b.end;
        if (a.kind != b.kind)
            return a.kind < b.kind;
        return a.start < b.start;
    });
    m_carry = window.right(kCarry);

    for (const Reply &r : replies) {
        switch (r.kind) {
        case ReplyKind::Upload:
            emit tableUploaded(uploads.at(r.start), imageDamage(uploadHeaders.at(r.start), uploads.at(r.start).join()));
            break;
        case ReplyKind::Version: {
            const int text = r.start + kVersionAt;
            emit versionReported(QString::fromUtf8(window.mid(text, r.end - msg::lineEnd.size() - text)));
            break;
        }
        case ReplyKind::Model:
            emit modelReported(QString::fromUtf8(window.mid(r.start, r.end - msg::lineEnd.size() - r.start)));
            write(msg::modelAck);
            break;
        case ReplyKind::EraseEnd: emit eraseFinished(); break;
        case ReplyKind::Settings: {
            DeviceSettings settings;
            if (parseSettingsReply(window.mid(r.start, kSettingsReplySize), &settings))
                emit settingsReported(settings);
            break;
        }
        case ReplyKind::DownloadSuccess: emit imageAccepted(); break;
        case ReplyKind::SettingEnd:
            write(msg::uploadRequest);
            emit settingAcknowledged();
            break;
        case ReplyKind::Cipher:
            for (const QByteArray &part :
                 authenticationAnswer(authenticationChallenge(window.mid(r.start, kChallengeReplySize))))
                write(part);
            break;
        case ReplyKind::OpenTheDoor:
            write(msg::settingRequest);
            emit doorAnswered(true);
            break;
        case ReplyKind::CloseTheDoor: emit doorAnswered(false); break;
        case ReplyKind::Ok:
            write(msg::settingRequest);
            emit boxAccepted();
            break;
        }
    }
}

}  // namespace vl
