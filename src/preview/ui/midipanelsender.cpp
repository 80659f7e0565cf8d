#include "midipanelsender.h"

#include "midi/ui/midioutputpanel.h"

namespace vl {

bool MidiPanelSender::midiConnected() const { return m_panel && m_panel->midiConnected(); }

void MidiPanelSender::sendMidi(MidiEventKind kind, int channel, int number, int value)
{
    if (!m_panel)
        return;
    switch (kind) {
    case MidiEventKind::Note: m_panel->sendNoteMessage(channel, number, value); break;
    case MidiEventKind::PolyAftertouch: m_panel->sendPolyAftertouch(channel, number, value); break;
    case MidiEventKind::ControlChange: m_panel->sendControlChange(channel, number, value); break;
    }
}

}  // namespace vl
