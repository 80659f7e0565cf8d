#pragma once

// What QMidiOut needs from the computer's MIDI system: the output ports by number, one open
// port at a time, and raw messages sent to it. The program uses RtMidi; tests may put a
// scripted back end in its place.

#include <QString>
#include <QStringList>
#include <memory>

namespace vl {

class MidiBackend {
public:
    virtual ~MidiBackend();

    // The names of the output ports; a port's number is its index. Empty when the MIDI
    // system is not there.
    virtual QStringList portNames() = 0;
    // Opens port `id`, closing the one that is open first. On failure `error` says why.
    virtual bool open(int id, QString *error) = 0;
    virtual void close() = 0;
    // Sends one complete message to the open port.
    virtual bool send(const QByteArray &bytes, QString *error) = 0;
};

// Which MIDI system RtMidi talks to. Automatic takes the ALSA sequencer where the machine
// has one and JACK otherwise.
enum class MidiSystem { Automatic, AlsaSequencer, Jack };

std::unique_ptr<MidiBackend> makeRtMidiBackend(MidiSystem system = MidiSystem::Automatic);

}  // namespace vl
