#pragma once

// Standard MIDI Files written byte by byte for tests: a track is a list of (delta ticks,
// event bytes), written with the variable-length delta times and an end-of-track event.
//
//     SmfTrack t;
//     t.tempo(0, 500000).note(0, 1, 60, 100).note(480, 1, 60, 0);
//     QByteArray file = smfFile(0, 480, {t});

#include <QByteArray>
#include <QList>

#include <initializer_list>

namespace vl::test {

inline QByteArray smfNumber(quint32 v)
{
    QByteArray out(1, char(v & 0x7F));
    while (v >>= 7)
        out.prepend(char(0x80 | (v & 0x7F)));
    return out;
}

inline QByteArray be32(quint32 v)
{
    QByteArray b;
    for (int s = 24; s >= 0; s -= 8)
        b.append(char((v >> s) & 0xFF));
    return b;
}

inline QByteArray be16(quint16 v)
{
    QByteArray b;
    b.append(char(v >> 8)).append(char(v & 0xFF));
    return b;
}

// The bytes given, in order (QByteArray has no list constructor).
inline QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (const int v : values)
        b.append(char(v));
    return b;
}

struct SmfTrack {
    QByteArray body;
    bool endOfTrack = true;

    // Any bytes after a delta time (running status: leave the status byte out).
    SmfTrack &raw(quint32 delta, const QByteArray &bytes)
    {
        body += smfNumber(delta) + bytes;
        return *this;
    }
    SmfTrack &message(quint32 delta, int status, int channel, int d1, int d2 = -1)
    {
        QByteArray b = bytesOf({status | (channel - 1), d1});
        if (d2 >= 0)
            b.append(char(d2));
        return raw(delta, b);
    }
    // Note on (velocity 0: the note off the way most files write it).
    SmfTrack &note(quint32 delta, int channel, int n, int velocity)
    {
        return message(delta, 0x90, channel, n, velocity);
    }
    SmfTrack &noteOff(quint32 delta, int channel, int n) { return message(delta, 0x80, channel, n, 64); }
    SmfTrack &cc(quint32 delta, int channel, int controller, int value)
    {
        return message(delta, 0xB0, channel, controller, value);
    }
    SmfTrack &at(quint32 delta, int channel, int n, int pressure) { return message(delta, 0xA0, channel, n, pressure); }
    SmfTrack &tempo(quint32 delta, quint32 usPerQuarter)
    {
        return raw(delta, QByteArray("\xFF\x51\x03", 3) + be32(usPerQuarter).mid(1));
    }
    SmfTrack &meta(quint32 delta, int type, const QByteArray &data)
    {
        return raw(delta, bytesOf({0xFF, type}) + smfNumber(quint32(data.size())) + data);
    }
    QByteArray chunk() const
    {
        const QByteArray all = endOfTrack ? body + QByteArray("\x00\xFF\x2F\x00", 4) : body;
        return QByteArray("MTrk") + be32(quint32(all.size())) + all;
    }
};

inline QByteArray smfHeader(int format, int tracks, quint16 division)
{
    return QByteArray("MThd") + be32(6) + be16(quint16(format)) + be16(quint16(tracks)) + be16(division);
}

inline QByteArray smfFile(int format, quint16 division, const QList<SmfTrack> &tracks)
{
    QByteArray out = smfHeader(format, tracks.size(), division);
    for (const SmfTrack &t : tracks)
        out += t.chunk();
    return out;
}

}  // namespace vl::test
