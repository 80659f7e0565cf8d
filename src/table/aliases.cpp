#include "aliases.h"

#include "common/safefile.h"
#include "rulecolumns.h"
#include "rulemodel.h"
#include "ruletext.h"

#include <QFile>
#include <QFileInfo>

namespace vl {

namespace {

// Enough bytes for kMaxAliasLength characters of up to four UTF-8 bytes each.
constexpr int kMaxLineBytes = kMaxAliasLength * 4;

class LineSplitter {
public:
    // Feeds bytes; returns false once the line limit is reached and nothing more is needed.
    bool feed(const char *data, qint64 size)
    {
        for (qint64 i = 0; i < size; ++i) {
            const char b = data[i];
            if (b == '\n') {
                if (m_afterCr) {  // the LF of a CR LF pair
                    m_afterCr = false;
                    continue;
                }
                endLine();
            } else if (b == '\r') {
                endLine();
                m_afterCr = true;
            } else {
                m_afterCr = false;
                m_open = true;
                if (m_line.size() < kMaxLineBytes)
                    m_line.append(b);
            }
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
        QString text = QString::fromUtf8(m_line);
        if (m_lines.isEmpty() && text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        m_lines.append(sanitizedAlias(text));
        m_line.clear();
        m_open = false;
    }

    QStringList m_lines;
    QByteArray m_line;
    bool m_open = false;  // a line has started and not ended yet
    bool m_afterCr = false;
};

}  // namespace

QString aliasFilePath() { return QStringLiteral("./Aliases.txt"); }

QString sanitizedAlias(const QString &alias)
{
    QString text = alias;
    for (QChar &c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
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
    for (const QString &alias : aliases) {
        bytes += sanitizedAlias(alias).toUtf8();
        bytes += '\n';
    }
    return bytes;
}

AliasFileResult readAliasFile(const QString &path)
{
    AliasFileResult result;
    if (!QFileInfo::exists(path) && !writeFileWhole(path, QByteArray())) {
        result.status = AliasFileResult::CannotCreate;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = AliasFileResult::CannotRead;
        return result;
    }
    LineSplitter splitter;
    char buffer[64 * 1024];
    for (;;) {
        const qint64 got = file.read(buffer, sizeof buffer);
        if (got < 0) {
            result.status = AliasFileResult::CannotRead;
            return result;
        }
        if (got == 0 || !splitter.feed(buffer, got))
            break;
    }
    result.aliases = splitter.finish();
    return result;
}

bool writeAliasFile(const QString &path, const QStringList &aliases)
{
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
