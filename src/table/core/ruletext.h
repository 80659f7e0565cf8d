#pragma once

// Reading and writing the text forms of rule cells. Every cell holds the text the user
// sees; these helpers take the numbers out of those texts and build them again.

#include <QString>

namespace vl {

// The separator between a note number and its name: "60 / C4".
inline const QString &noteSeparator()
{
    static const QString sep = QStringLiteral(" / ");
    return sep;
}

// The first run of decimal digits in `text` as a number ("5-Spot" gives 5), or
// `fallback` when the text holds no digit. Runs too long for an int give `fallback` too.
int firstNumberIn(const QString &text, int fallback = 0);

// The number before " / " of a controller text, read as an integer ("60 / C4" gives 60,
// "7" gives 7); 0 when that part is no number.
int controllerNumber(const QString &text);

// "n / name" under naming cnum; the name is empty for n outside 0 … 127.
QString noteText(int n, int cnum);

// The controller text of number n for a status: the number alone for "CC", the number
// with its note name otherwise.
QString controllerTextFor(int n, const QString &status, int cnum);

}  // namespace vl
