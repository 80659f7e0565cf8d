#pragma once

// Short MIDI messages as one 32-bit value: the status byte in the low byte, the first data
// byte above it and the second data byte above that. The packing helpers take channels
// 1..16 and data values as they are; callers check ranges first (see inMidiRange).

#include <QByteArray>
#include <QtGlobal>

namespace vl::midi {

enum StatusKind : quint8 {
    NoteOffKind = 0x80,
    NoteOnKind = 0x90,
    PolyAftertouchKind = 0xA0,
    ControlChangeKind = 0xB0,
};

constexpr bool isMidiChannel(int channel) { return channel >= 1 && channel <= 16; }
constexpr bool inMidiRange(int value) { return value >= 0 && value <= 127; }

// status = kind | (channel - 1); value = status | data1 << 8 | data2 << 16.
constexpr quint32 packShortMessage(int kind, int channel, int data1, int data2)
{
    const quint32 status = (quint32(kind) | quint32(channel - 1)) & 0xFFu;
    return status | (quint32(data1) & 0xFFu) << 8 | (quint32(data2) & 0xFFu) << 16;
}

// A note on, or the note's note off (velocity 0) when the velocity is 0.
constexpr quint32 noteMessage(int channel, int note, int velocity)
{
    return velocity == 0 ? packShortMessage(NoteOffKind, channel, note, 0)
                         : packShortMessage(NoteOnKind, channel, note, velocity);
}
constexpr quint32 polyAftertouchMessage(int channel, int note, int pressure)
{
    return packShortMessage(PolyAftertouchKind, channel, note, pressure);
}
constexpr quint32 controlChangeMessage(int channel, int controller, int value)
{
    return packShortMessage(ControlChangeKind, channel, controller, value);
}

// How many bytes a message with this status byte has on the wire: 1, 2 or 3; 0 when the
// byte does not start a short message (a data byte, or the start or end of a system
// exclusive message).
int shortMessageLength(quint8 status);

// The bytes of a packed short message as they go out, or an empty array when the value is
// not a short message (no status byte, or a data byte with its top bit set). Bytes past
// the message's length are ignored, as the status byte says how long it is.
QByteArray shortMessageBytes(quint32 packed);

}  // namespace vl::midi
