#pragma once

// Where the preview's MIDI goes: the MIDI output panel implements this, tests record it.

namespace vl {

enum class MidiEventKind {
    Note,            // a note on, or the note off (value 0)
    PolyAftertouch,  // polyphonic after-touch
    ControlChange,
};

class MidiSender {
public:
    virtual ~MidiSender();
    // A MIDI output port is open.
    virtual bool midiConnected() const = 0;
    // One message on channel 1 … 16 for note or controller `number`.
    virtual void sendMidi(MidiEventKind kind, int channel, int number, int value) = 0;
};

}  // namespace vl
