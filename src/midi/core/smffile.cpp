#include "smffile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace vl::midi {

namespace {

constexpr int kDefaultTempoUs = 500000;  // 120 beats a minute

struct RawEvent {
    qint64 tick;
    qint64 offset;  // where the event starts in the file
    int track;
    bool tempo;       // a tempo change (tempoUs) rather than a channel message
    quint32 tempoUs;  // microseconds per quarter note
    quint8 status;
    quint8 data1;
    quint8 data2;
};

QString hex(int byte)
{
    return QStringLiteral("0x") + QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

class Reader {
public:
    explicit Reader(const QByteArray &bytes)
        : m_data(reinterpret_cast<const uchar *>(bytes.constData())), m_size(bytes.size())
    {
    }

    bool read(SmfSong *song, SmfProblem *problem);

private:
    bool fail(qint64 offset, const QString &reason)
    {
        m_problem.offset = offset;
        m_problem.reason = reason;
        return false;
    }
    quint32 be32(qint64 at) const
    {
        return quint32(m_data[at]) << 24 | quint32(m_data[at + 1]) << 16 | quint32(m_data[at + 2]) << 8
               | quint32(m_data[at + 3]);
    }
    quint16 be16(qint64 at) const { return quint16(m_data[at] << 8 | m_data[at + 1]); }
    // A variable-length number at *pos, which must end before `end`.
    bool readNumber(qint64 *pos, qint64 end, quint32 *value, const QString &what);
    bool readTrack(qint64 begin, qint64 end, int track);
    bool placeOnTimeLine(SmfSong *song);

    const uchar *m_data;
    qint64 m_size;
    SmfProblem m_problem;
    int m_division = 0;
    int m_ticksPerFrame = 0;
    int m_tempoChanges = 0;
    qint64 m_lastTick = 0;
    qint64 m_lastTickOffset = 0;
    std::vector<RawEvent> m_events;
};

bool Reader::readNumber(qint64 *pos, qint64 end, quint32 *value, const QString &what)
{
    const qint64 start = *pos;
    quint32 v = 0;
    for (int i = 0; i < 4; ++i) {
        if (*pos >= end)
            return fail(start, QStringLiteral("the track ends inside %1").arg(what));
        const uchar b = m_data[(*pos)++];
        v = (v << 7) | (b & 0x7F);
        if (!(b & 0x80)) {
            *value = v;
            return true;
        }
    }
    return fail(start, QStringLiteral("%1 runs over more than four bytes").arg(what));
}

bool Reader::readTrack(qint64 begin, qint64 end, int track)
{
    qint64 pos = begin;
    qint64 tick = 0;
    quint8 running = 0;
    bool ended = false;
    while (pos < end) {
        if (ended)
            return fail(pos, QStringLiteral("track %1 goes on after its end-of-track event").arg(track + 1));
        quint32 delta = 0;
        if (!readNumber(&pos, end, &delta, QStringLiteral("a delta time")))
            return false;
        tick += delta;
        if (pos >= end)
            return fail(pos, QStringLiteral("track %1 ends after a delta time, before its event").arg(track + 1));
        const qint64 eventStart = pos;
        const uchar first = m_data[pos];
        if (first == 0xFF) {
            running = 0;
            if (pos + 1 >= end)
                return fail(eventStart, QStringLiteral("track %1 ends inside a meta event").arg(track + 1));
            const uchar type = m_data[pos + 1];
            if (type & 0x80)
                return fail(pos + 1, QStringLiteral("meta event type %1 has its top bit set").arg(hex(type)));
            pos += 2;
            quint32 length = 0;
            if (!readNumber(&pos, end, &length, QStringLiteral("the length of a meta event")))
                return false;
            if (qint64(length) > end - pos)
                return fail(eventStart, QStringLiteral("a meta event of %1 bytes runs past the end of track %2")
                                            .arg(length)
                                            .arg(track + 1));
            if (type == 0x51) {
                if (length != 3)
                    return fail(eventStart, QStringLiteral("a tempo change of %1 bytes (it has 3)").arg(length));
                const quint32 tempo = quint32(m_data[pos]) << 16 | quint32(m_data[pos + 1]) << 8 | m_data[pos + 2];
                if (tempo == 0)
                    return fail(eventStart, QStringLiteral("a tempo change to 0 microseconds per quarter note"));
                m_events.push_back({tick, eventStart, track, true, tempo, 0, 0, 0});
                ++m_tempoChanges;
            } else if (type == 0x2F) {
                if (length != 0)
                    return fail(eventStart, QStringLiteral("an end-of-track event with %1 bytes of data").arg(length));
                ended = true;
            }
            pos += length;
        } else if (first == 0xF0 || first == 0xF7) {
            running = 0;
            ++pos;
            quint32 length = 0;
            if (!readNumber(&pos, end, &length, QStringLiteral("the length of a system exclusive message")))
                return false;
            if (qint64(length) > end - pos)
                return fail(eventStart,
                            QStringLiteral("a system exclusive message of %1 bytes runs past the end of track %2")
                                .arg(length)
                                .arg(track + 1));
            pos += length;
        } else if (first > 0xF0) {
            return fail(pos, QStringLiteral("status byte %1 cannot stand in a MIDI file").arg(hex(first)));
        } else {
            quint8 status = first;
            if (first & 0x80) {
                running = first;
                ++pos;
            } else if (running == 0) {
                return fail(pos, QStringLiteral("data byte %1 has no status byte before it to run on").arg(hex(first)));
            } else {
                status = running;
            }
            const int kind = status & 0xF0;
            const int count = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
            quint8 data[2] = {0, 0};
            for (int i = 0; i < count; ++i) {
                if (pos >= end)
                    return fail(eventStart,
                                QStringLiteral("track %1 ends inside a %2 message").arg(track + 1).arg(hex(status)));
                const uchar b = m_data[pos];
                if (b & 0x80)
                    return fail(
                        pos,
                        QStringLiteral("byte %1 of a %2 message is a status byte, not data").arg(hex(b), hex(status)));
                data[i] = b;
                ++pos;
            }
            m_events.push_back({tick, eventStart, track, false, 0, status, data[0], data[1]});
        }
        if (tick > m_lastTick) {
            m_lastTick = tick;
            m_lastTickOffset = eventStart;
        }
    }
    return true;
}

bool Reader::placeOnTimeLine(SmfSong *song)
{
    std::stable_sort(m_events.begin(), m_events.end(),
                     [](const RawEvent &a, const RawEvent &b) { return a.tick < b.tick; });
    // Microseconds of a tick count from the last tempo change on: exact in 128 bits, then
    // checked against the limit before it is narrowed.
    qint64 segmentTick = 0;
    qint64 segmentUs = 0;
    quint32 tempo = kDefaultTempoUs;
    const auto timeOf = [&](qint64 tick, qint64 offset, qint64 *us) {
        __int128 t;
        if (m_division > 0) {
            t = __int128(tick - segmentTick) * tempo / m_division + segmentUs;
        } else {
            // SMPTE: frames a second (29 is 29.97 drop frame) times ticks a frame.
            const int fps = -m_division;
            const __int128 ticksPer100s = fps == 29 ? __int128(2997) * m_ticksPerFrame
                                                    : __int128(fps) * 100 * m_ticksPerFrame;
            t = __int128(tick) * 100 * 1000000 / ticksPer100s;
        }
        if (t > kMaxSongMicroseconds)
            return fail(offset, QStringLiteral("the song would run for more than %1 hours from here on")
                                    .arg(kMaxSongMicroseconds / 3600 / 1000000));
        *us = qint64(t);
        return true;
    };

    QVector<SmfEvent> events;
    events.reserve(int(std::min<size_t>(m_events.size(), size_t(std::numeric_limits<int>::max() / 2))));
    for (const RawEvent &e : m_events) {
        qint64 us = 0;
        if (!timeOf(e.tick, e.offset, &us))
            return false;
        if (e.tempo) {
            segmentTick = e.tick;
            segmentUs = us;
            tempo = e.tempoUs;
            continue;
        }
        SmfEvent event;
        event.timeUs = us;
        event.status = e.status;
        event.data1 = e.data1;
        event.data2 = e.data2;
        event.track = e.track;
        events.append(event);
    }
    qint64 length = 0;
    if (!timeOf(m_lastTick, m_lastTickOffset, &length))
        return false;
    song->events = std::move(events);
    song->lengthUs = length;
    return true;
}

bool Reader::read(SmfSong *song, SmfProblem *problem)
{
    const auto refuse = [&]() {
        if (problem)
            *problem = m_problem;
        return false;
    };
    if (m_size > kMaxSmfBytes) {
        fail(kMaxSmfBytes, QStringLiteral("the file is larger than %1 MB").arg(kMaxSmfBytes / 1024 / 1024));
        return refuse();
    }
    if (m_size < 4 || std::memcmp(m_data, "MThd", 4) != 0) {
        fail(0, QStringLiteral("not a Standard MIDI File: it does not begin with \"MThd\""));
        return refuse();
    }
    if (m_size < 14) {
        fail(m_size, QStringLiteral("the file ends after %1 bytes, inside its 14-byte header").arg(m_size));
        return refuse();
    }
    const quint32 headerLength = be32(4);
    if (headerLength < 6) {
        fail(4, QStringLiteral("the header declares %1 bytes (it has at least 6)").arg(headerLength));
        return refuse();
    }
    if (qint64(headerLength) > m_size - 8) {
        fail(4, QStringLiteral("the header declares %1 bytes but the file ends %2 bytes after it")
                    .arg(headerLength)
                    .arg(m_size - 8));
        return refuse();
    }
    const int format = be16(8);
    const int tracks = be16(10);
    const quint16 division = be16(12);
    if (format > 1) {
        fail(8, format == 2 ? QStringLiteral("format 2 (independent patterns) is not played: formats 0 and 1 are")
                            : QStringLiteral("format %1 is unknown: formats 0 and 1 are played").arg(format));
        return refuse();
    }
    if (tracks == 0 || (format == 0 && tracks != 1)) {
        fail(10, QStringLiteral("a format %1 file with %2 tracks").arg(format).arg(tracks));
        return refuse();
    }
    if (division & 0x8000) {
        const int fps = -int(qint8(division >> 8));
        m_ticksPerFrame = division & 0xFF;
        if (fps != 24 && fps != 25 && fps != 29 && fps != 30) {
            fail(12, QStringLiteral("SMPTE time at %1 frames a second (24, 25, 29 or 30 are possible)").arg(fps));
            return refuse();
        }
        if (m_ticksPerFrame == 0) {
            fail(13, QStringLiteral("SMPTE time with 0 ticks a frame"));
            return refuse();
        }
        m_division = -fps;
    } else {
        if (division == 0) {
            fail(12, QStringLiteral("0 ticks per quarter note"));
            return refuse();
        }
        m_division = division;
    }

    qint64 pos = 8 + qint64(headerLength);
    int read = 0;
    while (read < tracks) {
        if (m_size - pos < 8) {
            fail(pos, QStringLiteral("the file ends after %1 of its %2 tracks").arg(read).arg(tracks));
            return refuse();
        }
        const quint32 length = be32(pos + 4);
        if (qint64(length) > m_size - pos - 8) {
            fail(pos + 4, QStringLiteral("the chunk declares %1 bytes but the file ends %2 bytes after its header")
                              .arg(length)
                              .arg(m_size - pos - 8));
            return refuse();
        }
        if (std::memcmp(m_data + pos, "MTrk", 4) == 0) {
            if (!readTrack(pos + 8, pos + 8 + length, read))
                return refuse();
            ++read;
        }
        // Chunks of other kinds are read past, as the format asks.
        pos += 8 + qint64(length);
    }
    SmfSong result;
    result.format = format;
    result.trackCount = tracks;
    result.division = m_division;
    result.ticksPerFrame = m_division < 0 ? m_ticksPerFrame : 0;
    result.tempoChanges = m_tempoChanges;
    if (!placeOnTimeLine(&result))
        return refuse();
    *song = std::move(result);
    return true;
}

}  // namespace

bool readStandardMidiFile(const QByteArray &bytes, SmfSong *song, SmfProblem *problem)
{
    Reader reader(bytes);
    return reader.read(song, problem);
}

}  // namespace vl::midi
