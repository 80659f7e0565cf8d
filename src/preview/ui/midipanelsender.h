#pragma once

// The preview engine's MIDI goes out through the window's MIDI output panel: notes and
// controllers warn when no port is open, after-touch is dropped silently, values out of
// range send nothing.

#include "preview/core/midisender.h"

#include <QPointer>

namespace vl {

class MidiOutputPanel;

class MidiPanelSender final : public MidiSender {
public:
    explicit MidiPanelSender(MidiOutputPanel *panel) : m_panel(panel) {}

    bool midiConnected() const override;
    void sendMidi(MidiEventKind kind, int channel, int number, int value) override;

private:
    QPointer<MidiOutputPanel> m_panel;
};

}  // namespace vl
