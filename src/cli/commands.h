#pragma once

// varilume-cli's commands: ports, read, write, settings, factory-reset, image, decode, play.
// run() takes a whole command line and reports through the two streams only, so the
// commands can be run and checked inside a test as well as from main().

#include <QStringList>

class QIODevice;

namespace vl::cli {

enum ExitStatus {
    ExitOk = 0,
    ExitFailed = 1,  // the command could not be carried out
    ExitUsage = 2,   // a mistake in the command line
};

// `arguments` starts with the program name. Output goes to `out`, the one line of a
// failure (and warnings) to `err`. Needs a QCoreApplication for the commands that talk to
// a box.
int run(const QStringList &arguments, QIODevice &out, QIODevice &err);

}  // namespace vl::cli
