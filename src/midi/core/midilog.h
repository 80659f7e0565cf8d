#pragma once

// The MIDI subsystem's log. Debug lines are off unless QT_LOGGING_RULES turns on
// "varilume.midi.debug".

#include <QLoggingCategory>

namespace vl {
Q_DECLARE_LOGGING_CATEGORY(lcMidi)
}
