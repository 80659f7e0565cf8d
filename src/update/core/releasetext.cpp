#include "releasetext.h"

#include "version.h"

#include <QRegularExpression>

namespace vl::update {

ReleaseText parseReleaseText(const QString &text, const QString &prefix, const QString &terminator)
{
    ReleaseText release;
    release.notes = releaseNotes(text);
    if (!text.startsWith(prefix))
        return release;
    int end = prefix.size();
    while (end < text.size() && (text[end].isDigit() || text[end] == QLatin1Char('.')))
        ++end;
    const QString version = text.mid(prefix.size(), end - prefix.size());
    if (!isVersionText(version))
        return release;
    if (!terminator.isEmpty()) {
        if (!QStringView(text).mid(end).startsWith(terminator))
            return release;
    } else if (end < text.size()) {
        const QChar next = text[end];
        if (next.isLetterOrNumber() || next == QLatin1Char('_') || next == QLatin1Char('-') || next == QLatin1Char('+'))
            return release;
    }
    release.version = version;
    release.releaseName = text.left(end);
    return release;
}

QString releaseNotes(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("Update content:\\s*(.*)"),
                                           QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = marker.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

AnnouncedHash announcedSha256(const QString &text, const QString &fileName)
{
    // "SHA256:" or "SHA256 <name>:" at the start of a line, then the value up to the line end.
    static const QRegularExpression line(
        QStringLiteral("^SHA256(?:[ \\t]+([^:\\r\\n]+?))?[ \\t]*:[ \\t]*([^\\r\\n]*)\\r?$"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));

    AnnouncedHash plain;
    auto it = line.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString name = m.captured(1);
        if (!name.isEmpty() && name != fileName)
            continue;
        const QString value = m.captured(2).trimmed();
        AnnouncedHash found;
        found.state = hex.match(value).hasMatch() ? AnnouncedHash::Valid : AnnouncedHash::Malformed;
        if (found.state == AnnouncedHash::Valid)
            found.digest = QByteArray::fromHex(value.toLatin1());
        if (!name.isEmpty())
            return found;  // the line for this very file
        if (plain.state == AnnouncedHash::None)
            plain = found;
    }
    return plain;
}

bool digestAccepted(const AnnouncedHash &announced, const QByteArray &sha256)
{
    switch (announced.state) {
    case AnnouncedHash::None: return true;
    case AnnouncedHash::Valid: return announced.digest == sha256;
    case AnnouncedHash::Malformed: return false;
    }
    return false;
}

}  // namespace vl::update
