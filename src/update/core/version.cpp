#include "version.h"

#include <QList>

#include <algorithm>
#include <limits>

namespace vl::update {

namespace {

// Digits only, no sign or blank, and within int; anything else is 0.
int partValue(QStringView part)
{
    if (part.isEmpty())
        return 0;
    qint64 value = 0;
    for (QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<int>::max())
            return 0;
    }
    return int(value);
}

}  // namespace

QVector<int> versionNumbers(const QString &version)
{
    QVector<int> numbers;
    const auto parts = QStringView(version).split(QLatin1Char('.'));
    numbers.reserve(parts.size());
    for (QStringView part : parts)
        numbers.append(partValue(part));
    return numbers;
}

int compareVersions(const QString &a, const QString &b)
{
    const QVector<int> x = versionNumbers(a);
    const QVector<int> y = versionNumbers(b);
    const int n = std::max(x.size(), y.size());
    for (int i = 0; i < n; ++i) {
        const int p = i < x.size() ? x[i] : 0;
        const int q = i < y.size() ? y[i] : 0;
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

int majorNumber(const QString &version)
{
    const int dot = version.indexOf(QLatin1Char('.'));
    return partValue(QStringView(version).left(dot < 0 ? version.size() : dot));
}

bool isNewerVersion(const QString &current, const QString &offered) { return compareVersions(offered, current) > 0; }

bool isNewerMajor(const QString &current, const QString &offered)
{
    return majorNumber(current) < majorNumber(offered);
}

bool isVersionText(const QString &text)
{
    int digits = 0;
    for (QChar c : text) {
        if (c == QLatin1Char('.')) {
            if (digits == 0)
                return false;
            digits = 0;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++digits > 9)
                return false;
        } else {
            return false;
        }
    }
    return digits > 0;
}

}  // namespace vl::update
