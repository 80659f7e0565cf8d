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
    // "SHA256:" or "SHA256 <name>:" at the very start of a line, then 64 hex digits.
    static const QRegularExpression exact(
        QStringLiteral("^SHA256(?:[ \\t]+([^:\\r\\n]+?))?[ \\t]*:[ \\t]*([0-9A-Fa-f]{64})[ \\t]*\\r?$"));
    // What looks meant as one: "sha256", "SHA-256", "Sha_256" … after any indentation.
    static const QRegularExpression meant(QStringLiteral("^\\s*sha[-_ ]?256"),
                                          QRegularExpression::CaseInsensitiveOption);

    // The notes are free text: only the lines before them are read.
    static const QRegularExpression notes(QStringLiteral("Update content:"));
    const QRegularExpressionMatch notesAt = notes.match(text);
    const QString head = notesAt.hasMatch() ? text.left(notesAt.capturedStart()) : text;

    AnnouncedHash plain;
    AnnouncedHash named;
    for (const QString &line : head.split(QLatin1Char('\n'))) {
        if (!meant.match(line).hasMatch())
            continue;
        const QRegularExpressionMatch m = exact.match(line);
        if (!m.hasMatch()) {
            AnnouncedHash bad;
            bad.state = AnnouncedHash::Malformed;
            bad.line = line.trimmed();
            return bad;
        }
        const QString name = m.captured(1);
        if (!name.isEmpty() && name != fileName)
            continue;
        AnnouncedHash &found = name.isEmpty() ? plain : named;
        if (found.state == AnnouncedHash::None) {
            found.state = AnnouncedHash::Valid;
            found.digest = QByteArray::fromHex(m.captured(2).toLatin1());
        }
    }
    return named.state != AnnouncedHash::None ? named : plain;
}

QString checksumProblem(const AnnouncedHash &announced, const QByteArray &sha256)
{
    switch (announced.state) {
    case AnnouncedHash::None: return QStringLiteral("the server announced no checksum; not used");
    case AnnouncedHash::Malformed:
        return QStringLiteral("the server's checksum line \"%1\" cannot be read; not used").arg(announced.line);
    case AnnouncedHash::Valid:
        return announced.digest == sha256 ? QString()
                                          : QStringLiteral("its SHA-256 checksum differs from the one the "
                                                           "server announced; not used");
    }
    return {};
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
