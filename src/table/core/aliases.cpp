#include "aliases.h"

#include "common/core/safefile.h"
#include "rulecolumns.h"
#include "rulemodel.h"
#include "ruletext.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vl {

Q_LOGGING_CATEGORY(lcAliases, "varilume.aliases", QtInfoMsg)

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

// Enough bytes for kMaxAliasLength characters of up to four UTF-8 bytes each.
constexpr int kMaxLineBytes = kMaxAliasLength * 4;

class LineSplitter {
public:
    // Feeds bytes; returns false once the line limit is reached and nothing more is needed.
    // Line ends are found with memchr, so the bytes of a line too long to keep cost little.
    bool feed(const char *data, qint64 size)
    {
        const char *p = data;
        const char *const end = data + size;
        const char *nextLf = nullptr;  // the next LF and CR at or after p, found once each
        const char *nextCr = nullptr;
        while (p < end) {
            if (m_afterCr) {
                m_afterCr = false;
                if (*p == '\n') {  // the LF of a CR LF pair
                    ++p;
                    continue;
                }
            }
            if (!nextLf || nextLf < p)
                nextLf = find(p, end, '\n');
            if (!nextCr || nextCr < p)
                nextCr = find(p, end, '\r');
            const char *const stop = std::min(nextLf, nextCr);
            if (stop > p) {
                m_open = true;
                const qint64 room = kMaxLineBytes - m_line.size();
                if (room > 0)
                    m_line.append(p, int(std::min<qint64>(room, stop - p)));
            }
            if (stop == end)
                break;
            endLine();
            m_afterCr = *stop == '\r';
            p = stop + 1;
            if (m_lines.size() >= kMaxAliasLines)
                return false;
        }
        return true;
    }

    QStringList finish()
    {
        if (m_open && m_lines.size() < kMaxAliasLines)
            endLine();
        return m_lines;
    }

private:
    void endLine()
    {
        // Only the first bytes of the file can be a byte-order mark. The first line always
        // holds them: a line keeps its first kMaxLineBytes bytes.
        QByteArray bytes = m_line;
        if (m_firstLine && bytes.startsWith(kByteOrderMark))
            bytes.remove(0, 3);
        m_firstLine = false;
        m_lines.append(sanitizedAlias(decodeLine(bytes)));
        m_line.clear();
        m_open = false;
    }

    // UTF-8 to text, keeping every U+FEFF at the start: QString::fromUtf8 takes the first
    // one there for a byte-order mark and drops it. Each U+FEFF at the start of the text
    // comes from one encoded at the start of the bytes, so what is missing is put back.
    static QString decodeLine(const QByteArray &bytes)
    {
        QString text = QString::fromUtf8(bytes);
        int encoded = 0;
        while (bytes.mid(3 * encoded, 3) == kByteOrderMark)
            ++encoded;
        int decoded = 0;
        while (decoded < text.size() && text.at(decoded) == QChar(0xFEFF))
            ++decoded;
        if (encoded > decoded)
            text.prepend(QString(encoded - decoded, QChar(0xFEFF)));
        return text;
    }

    static const char *find(const char *from, const char *end, char c)
    {
        const void *found = std::memchr(from, c, size_t(end - from));
        return found ? static_cast<const char *>(found) : end;
    }

    QStringList m_lines;
    QByteArray m_line;
    bool m_open = false;  // a line has started and not ended yet
    bool m_afterCr = false;
    bool m_firstLine = true;
};

// What kind of file system object st describes, for the log.
QString kindOf(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(st.st_mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("a socket");
    return QStringLiteral("something else");
}

// Opens `path` for reading only when it is a regular file (following links). Opening does
// not wait: a FIFO without a writer would otherwise block here. -1 when it is missing,
// cannot be opened or is something else; `ignored` then says what stood there.
int openRegularFile(const QString &path, QString *ignored, int *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    // Looked at before it is opened, since opening a device (a serial port, say) may
    // already do something; and again once open, as it may have been swapped meanwhile.
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = 0;
        *ignored = QStringLiteral("%1 is %2, not a regular file; no aliases were read from it").arg(path, kindOf(st));
        return -1;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = 0;
        *ignored = QStringLiteral("%1 is %2, not a regular file; no aliases were read from it").arg(path, kindOf(st));
        ::close(fd);
        return -1;
    }
    // Reads from a regular file never wait; blocking mode back all the same.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

QString aliasFilePath() { return QStringLiteral("./Aliases.txt"); }

QString sanitizedAlias(const QString &alias)
{
    QString text = alias;
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        for (QChar &c : text)
            if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
                c = QLatin1Char(' ');
    }
    if (text.size() > kMaxAliasLength) {
        int keep = kMaxAliasLength;
        if (text.at(keep - 1).isHighSurrogate())  // never keep half a character
            --keep;
        text.truncate(keep);
    }
    return text;
}

QStringList parseAliasText(const QByteArray &bytes)
{
    LineSplitter splitter;
    splitter.feed(bytes.constData(), bytes.size());
    return splitter.finish();
}

QByteArray aliasFileBytes(const QStringList &aliases)
{
    QByteArray bytes;
    bytes.reserve(aliases.size() * 4);
    if (!aliases.isEmpty() && aliases.first().startsWith(QChar(0xFEFF)))
        bytes += kByteOrderMark;
    for (const QString &alias : aliases) {
        bytes += sanitizedAlias(alias).toUtf8();
        bytes += '\n';
    }
    return bytes;
}

AliasFileResult readAliasFile(const QString &path)
{
    AliasFileResult result;
    QString ignored;
    int error = 0;
    int fd = openRegularFile(path, &ignored, &error);
    if (fd < 0 && error == ENOENT) {
        if (!writeFileWhole(path, QByteArray())) {
            result.status = AliasFileResult::CannotCreate;
            return result;
        }
        fd = openRegularFile(path, &ignored, &error);
    }
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        result.status = AliasFileResult::CannotRead;
        result.ignored = ignored;
        if (!ignored.isEmpty())
            qCWarning(lcAliases).noquote() << ignored;
        return result;
    }
    LineSplitter splitter;
    char buffer[64 * 1024];
    qint64 total = 0;
    for (;;) {
        const qint64 got = file.read(buffer, qMin(qint64(sizeof buffer), kMaxAliasFileBytes - total));
        if (got < 0) {
            result.status = AliasFileResult::CannotRead;
            return result;
        }
        total += got;
        if (got == 0 || !splitter.feed(buffer, got))
            break;
        if (total == kMaxAliasFileBytes) {
            if (!file.atEnd()) {
                result.ignored = QStringLiteral("%1 is larger than %2 bytes; only its first %2 bytes were read")
                                     .arg(path)
                                     .arg(kMaxAliasFileBytes);
                qCWarning(lcAliases).noquote() << result.ignored;
            }
            break;
        }
    }
    result.aliases = splitter.finish();
    return result;
}

bool writeAliasFile(const QString &path, const QStringList &aliases)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        qCWarning(lcAliases).noquote() << path << "is not a regular file; the aliases were not written to it";
        return false;
    }
    return writeFileWhole(path, aliasFileBytes(aliases));
}

QString dmxChannelText(int channel, const QStringList &aliases)
{
    const QString number = QString::number(channel);
    if (channel < 1 || channel > aliases.size())
        return number;
    const QString &alias = aliases.at(channel - 1);
    return alias.isEmpty() ? number : number + QLatin1Char('-') + alias;
}

QStringList dmxEditorLabels(const QStringList &aliases)
{
    QStringList labels;
    labels.reserve(kDmxChannels);
    for (int ch = 1; ch <= kDmxChannels; ++ch)
        labels.append(dmxChannelText(ch, aliases));
    return labels;
}

int relabelDmxCells(RuleModel &rules, const QStringList &aliases)
{
    int written = 0;
    const int rows = rules.rowCount();
    for (int r = 0; r < rows; ++r) {
        const QString text = rules.text(r, ColDmx);
        if (text.isEmpty())
            continue;
        const int n = text.contains(QLatin1Char('-')) ? firstNumberIn(text, 0) : text.toInt();
        if (n < 1 || n > aliases.size())
            continue;
        written += rules.setText(r, ColDmx, dmxChannelText(n, aliases));
    }
    return written;
}

}  // namespace vl
