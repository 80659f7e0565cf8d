#pragma once

#include <QString>

namespace vl {

// Names of MIDI notes under the three middle-C namings: cnum 1, 2 and 3 call note 60
// "C3", "C4" and "C5". Sharps only; the octave is n / 12 + cnum - 3.
class NoteNames {
public:
    static constexpr int kFirstNaming = 1;
    static constexpr int kLastNaming = 3;

    // The name of note n (0 … 127) under naming cnum; empty for any other n or cnum.
    static const QString &name(int n, int cnum);
    // The note that carries `name` under naming cnum, or -1 when no note does.
    static int number(const QString &name, int cnum);
};

}  // namespace vl
