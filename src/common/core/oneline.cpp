#include "oneline.h"

namespace vl {

QString oneLine(const QString &text, int length)
{
    QString out;
    for (const QChar c : text) {
        if (out.size() >= length) {
            out += QStringLiteral("…");
            break;
        }
        if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

}  // namespace vl
