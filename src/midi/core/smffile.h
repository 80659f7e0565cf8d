#pragma once

// Standard MIDI Files (.mid), formats 0 and 1, read whole before anything plays: either
// every track is read and every event lands on the song's time line, or the file is refused
// with the byte offset where it stopped making sense. Nothing of a refused file is returned.
//
// Times are in microseconds from the start of the song, with every tempo change of every
// track honoured (in format 1 the tempo map usually sits in the first track and applies to
// all). Divisions in ticks per quarter note and in SMPTE frames are both read. Only channel
// messages are returned; system exclusive messages and meta events other than tempo changes
// and the end of a track are read past.
//
// The reader takes anything: a file that is cut short, has lengths that point past its end,
// data bytes with the top bit set, running status with nothing to run on, variable-length
// numbers of more than four bytes, or a time line longer than kMaxSongMicroseconds is
// refused, never half read.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

namespace vl::midi {

struct SmfEvent {
    qint64 timeUs = 0;  // from the start of the song
    quint8 status = 0;  // 0x80 ... 0xEF: the kind in the high four bits, the channel - 1 in the low
    quint8 data1 = 0;
    quint8 data2 = 0;  // 0 for the one-data-byte messages (program change, channel pressure)
    int track = 0;     // 0-based, in file order

    int kind() const { return status & 0xF0; }
    int channel() const { return (status & 0x0F) + 1; }  // 1 ... 16
};

struct SmfSong {
    int format = 0;      // 0 or 1
    int trackCount = 0;  // the tracks the header announced, all read
    // Ticks per quarter note (> 0), or for SMPTE time the negative frame rate (-24, -25,
    // -29 for 29.97 drop frame, -30) with ticksPerFrame.
    int division = 0;
    int ticksPerFrame = 0;
    int tempoChanges = 0;      // tempo meta events read, in all tracks
    qint64 lengthUs = 0;       // the time of the last event or end of track
    QVector<SmfEvent> events;  // in time order; at one time, in track order, then file order
};

struct SmfProblem {
    qint64 offset = 0;  // byte offset in the file where reading stopped
    QString reason;     // e.g. "the track declares 400 bytes but the file ends after 37"
};

// A file larger than this is refused before it is read.
constexpr qint64 kMaxSmfBytes = 16 * 1024 * 1024;
// A song whose time line runs past this (24 hours) is refused: a corrupt delta time or
// tempo would otherwise make it play, or wait, for years.
constexpr qint64 kMaxSongMicroseconds = qint64(24) * 3600 * 1000 * 1000;

// Reads a whole file's bytes. True and `song` filled, or false and `problem` filled (and
// `song` left as it was).
bool readStandardMidiFile(const QByteArray &bytes, SmfSong *song, SmfProblem *problem);

}  // namespace vl::midi
