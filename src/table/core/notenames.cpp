#include "notenames.h"

#include <array>

namespace vl {

namespace {

using NameTable = std::array<QString, 128>;

const std::array<NameTable, 3> &tables()
{
    static const std::array<NameTable, 3> built = [] {
        static const char *const pitch[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
        std::array<NameTable, 3> t;
        for (int cnum = NoteNames::kFirstNaming; cnum <= NoteNames::kLastNaming; ++cnum)
            for (int n = 0; n < 128; ++n)
                t[cnum - 1][n] = QLatin1String(pitch[n % 12]) + QString::number(n / 12 + cnum - 3);
        return t;
    }();
    return built;
}

}  // namespace

const QString &NoteNames::name(int n, int cnum)
{
    static const QString none;
    if (n < 0 || n > 127 || cnum < kFirstNaming || cnum > kLastNaming)
        return none;
    return tables()[cnum - 1][n];
}

int NoteNames::number(const QString &name, int cnum)
{
    if (cnum < kFirstNaming || cnum > kLastNaming || name.isEmpty())
        return -1;
    const NameTable &t = tables()[cnum - 1];
    for (int n = 0; n < 128; ++n)
        if (t[n] == name)
            return n;
    return -1;
}

}  // namespace vl
