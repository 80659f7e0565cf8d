#include "ruletext.h"

#include "notenames.h"

#include <limits>

namespace vl {

int firstNumberIn(const QString &text, int fallback)
{
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    const int size = text.size();
    int i = 0;
    while (i < size && !isDigit(text.at(i)))
        ++i;
    if (i == size)
        return fallback;
    qint64 value = 0;
    for (; i < size && isDigit(text.at(i)); ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > std::numeric_limits<int>::max())
            return fallback;
    }
    return static_cast<int>(value);
}

int controllerNumber(const QString &text)
{
    const int sep = text.indexOf(noteSeparator());
    return (sep < 0 ? text : text.left(sep)).toInt();
}

QString noteText(int n, int cnum) { return QString::number(n) + noteSeparator() + NoteNames::name(n, cnum); }

QString controllerTextFor(int n, const QString &status, int cnum)
{
    if (status == QLatin1String("CC"))
        return QString::number(n);
    return noteText(n, cnum);
}

}  // namespace vl
