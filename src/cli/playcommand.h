#pragma once

// varilume-cli play: a Standard MIDI File played through the light preview's engine with a
// workbook's rules, headless, its DMX frames sent to the OLA daemon in real time, or with
// --dry-run printed with their times instead (on a clock of their own, so at once).

#include <QStringList>

class QIODevice;

namespace vl::cli {

extern const char kPlayHelp[];

// `args` follow the command's name. Returns the exit status (see commands.h); output goes to
// `out`, the failure line and warnings to `err`.
int playSong(const QStringList &args, QIODevice &out, QIODevice &err);

}  // namespace vl::cli
