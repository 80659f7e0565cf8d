#include "xlsxdocument.h"

#include "xmlscanner.h"

#include "common/core/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QTemporaryFile>

#include <libdeflate.h>
#include <minizip/unzip.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <thread>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace vl::xlsx {

namespace {

std::string_view view(const QByteArray &bytes) { return {bytes.constData(), size_t(bytes.size())}; }

// Whether a name is the given literal; the literal's length is known here, so this
// compiles to a few compares.
template <size_t N>
inline bool is(std::string_view name, const char (&literal)[N])
{
    return name.size() == N - 1 && std::memcmp(name.data(), literal, N - 1) == 0;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A decimal number of at most `max`, digits only (spaces around allowed).
bool parseCount(std::string_view s, qint64 max, qint64 *value)
{
    s = trimmed(s);
    if (s.empty())
        return false;
    qint64 v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > max)
            return false;
    }
    *value = v;
    return true;
}

// "B12" → (12, 2), within the sheet's limits; false for anything else.
bool parseCellRef(std::string_view ref, int *row, int *column)
{
    size_t i = 0;
    qint64 col = 0;
    while (i < ref.size() && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z'))) {
        col = col * 26 + ((ref[i] & ~0x20) - 'A' + 1);
        if (col > kMaxColumns)
            return false;
        ++i;
    }
    qint64 r = 0;
    if (i == 0 || i == ref.size() || !parseCount(ref.substr(i), kMaxRows, &r) || r < 1 || ref[i] == ' ')
        return false;
    *row = int(r);
    *column = int(col);
    return true;
}

// Resolves a relationship target against the folder of the part that names it.
QString resolvePart(const QString &basePart, const QString &target)
{
    if (target.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(target.mid(1));
    const int slash = basePart.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : basePart.left(slash + 1);
    QString path = QDir::cleanPath(folder + target);
    while (path.startsWith(QLatin1String("../")))
        path = path.mid(3);
    return path;
}

QString relsPartFor(const QString &part)
{
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

// Turns a part into UTF-8 for the scanner: a UTF-8 byte-order mark is dropped, UTF-16 (with
// a byte-order mark, or recognisable from its first character) and ISO-8859-1 are
// converted. Other encodings are refused.
bool prepareXml(QByteArray *bytes, QString *error)
{
    if (bytes->startsWith("\xEF\xBB\xBF")) {
        bytes->remove(0, 3);
        return true;
    }
    const auto byte = [&](int i) { return i < bytes->size() ? quint8(bytes->at(i)) : 0x100; };
    int utf16 = 0;  // 1: little endian, 2: big endian
    int skip = 0;
    if (byte(0) == 0xFF && byte(1) == 0xFE)
        utf16 = 1, skip = 2;
    else if (byte(0) == 0xFE && byte(1) == 0xFF)
        utf16 = 2, skip = 2;
    else if (byte(0) == '<' && byte(1) == 0)
        utf16 = 1;
    else if (byte(0) == 0 && byte(1) == '<')
        utf16 = 2;
    if (utf16) {
        const int units = (bytes->size() - skip) / 2;
        QString text(units, Qt::Uninitialized);
        const auto *p = reinterpret_cast<const uchar *>(bytes->constData()) + skip;
        for (int i = 0; i < units; ++i)
            text[i] = utf16 == 1 ? QChar(ushort(p[2 * i] | (p[2 * i + 1] << 8)))
                                 : QChar(ushort((p[2 * i] << 8) | p[2 * i + 1]));
        *bytes = text.toUtf8();
        return true;
    }
    if (!bytes->startsWith("<?xml"))
        return true;
    const int end = bytes->indexOf("?>");
    const QByteArray declaration = bytes->left(end < 0 ? 0 : end);
    const int at = declaration.indexOf("encoding");
    if (at < 0)
        return true;
    int open = at + 8;
    while (open < declaration.size() && declaration.at(open) != '"' && declaration.at(open) != '\'')
        ++open;
    const int close = open < declaration.size() ? declaration.indexOf(declaration.at(open), open + 1) : -1;
    if (close < 0)
        return true;
    const QByteArray encoding = declaration.mid(open + 1, close - open - 1).trimmed().toLower();
    // A UTF-16 part is UTF-8 here already (converted above, or by an earlier call).
    if (encoding == "utf-8" || encoding == "utf8" || encoding == "us-ascii" || encoding == "ascii"
        || encoding.startsWith("utf-16"))
        return true;
    if (encoding == "iso-8859-1" || encoding == "latin1" || encoding == "latin-1") {
        *bytes = QString::fromLatin1(*bytes).toUtf8();
        return true;
    }
    *error = QStringLiteral("it uses the character encoding \"%1\", which is not read")
                 .arg(QString::fromLatin1(encoding.left(40)));
    return false;
}

QString fromUtf8(const std::string &s) { return QString::fromUtf8(s.data(), int(s.size())); }

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Whether stored[i] starts an escape "_xHHHH_"; the character it stands for in *c.
bool escapeAt(const QString &s, int i, ushort *c)
{
    if (i + 7 > s.size() || s[i] != QLatin1Char('_') || s[i + 1] != QLatin1Char('x') || s[i + 6] != QLatin1Char('_'))
        return false;
    int v = 0;
    for (int k = 2; k < 6; ++k) {
        const int h = hexValue(s[i + k]);
        if (h < 0)
            return false;
        v = v * 16 + h;
    }
    *c = ushort(v);
    return true;
}

bool needsEscape(const QString &s, int i)
{
    const ushort u = s[i].unicode();
    if (u < 0x20)
        return u != '\t' && u != '\n';
    if (u == 0xFFFE || u == 0xFFFF)
        return true;
    if (QChar::isHighSurrogate(u))
        return i + 1 >= s.size() || !s[i + 1].isLowSurrogate();
    if (QChar::isLowSurrogate(u))
        return i == 0 || !s[i - 1].isHighSurrogate();
    ushort ignored;
    return u == '_' && escapeAt(s, i, &ignored);
}

}  // namespace

QString numberText(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }

QString columnName(int column)
{
    QString name;
    for (int c = column; c > 0; c = (c - 1) / 26)
        name.prepend(QChar('A' + (c - 1) % 26));
    return name;
}

QString toCellText(const QString &text, bool *cut)
{
    if (cut)
        *cut = false;
    bool plain = text.size() <= kMaxCellText;
    for (int i = 0; plain && i < text.size(); ++i)
        plain = !needsEscape(text, i);
    if (plain)
        return text;
    QString out;
    out.reserve(qMin(text.size() + 16, kMaxCellText));
    for (int i = 0; i < text.size(); ++i) {
        QString piece;
        if (needsEscape(text, i))
            piece = QStringLiteral("_x")
                    + QString::number(text[i].unicode(), 16).rightJustified(4, QLatin1Char('0')).toUpper()
                    + QLatin1Char('_');
        else if (text[i].isHighSurrogate())
            piece = text.mid(i++, 2);  // a pair: both halves or neither
        else
            piece = text[i];
        if (out.size() + piece.size() > kMaxCellText) {
            if (cut)
                *cut = true;
            break;
        }
        out += piece;
    }
    return out;
}

QString fromCellText(const QString &stored)
{
    if (!stored.contains(QLatin1String("_x")))
        return stored;
    QString out;
    out.reserve(stored.size());
    for (int i = 0; i < stored.size(); ++i) {
        ushort c;
        if (escapeAt(stored, i, &c)) {
            out += QChar(c);
            i += 6;
        } else {
            out += stored[i];
        }
    }
    return out;
}

// ----------------------------------------------------------------------------------------
// Reading a worksheet part

namespace {

// Reads the cells of a worksheet's XML. Everything it keeps follows from the elements open
// at each point (no counter that input could drive wrong); only the current row and column
// carry over from one row or cell to the next.
class SheetReader {
public:
    // Which part of the bytes this reader is for. Cells are kept when their <c> starts in
    // [keepFrom, keepTo); reading ends at `stopAt`. At each junction the reader notes the
    // nesting: `clean` tells whether the bytes between the two junctions are whole
    // elements at the level of the first, entered with no cell open.
    struct Window {
        qint64 keepFrom = 0;
        qint64 keepTo = LLONG_MAX;
        qint64 stopAt = LLONG_MAX;
        qint64 junction[2] = {-1, -1};
    };

    SheetReader(const QStringList &shared, const ReadLimits &limits) : m_shared(shared), m_limits(limits) {}

    std::vector<SheetCell> cells;
    qint64 chars = 0;
    bool stoppedAtRowLimit = false;
    // A kept row or cell gave no reference before any reference was read, so its place
    // depends on what came before the bytes this reader saw.
    bool relativePositions = false;
    bool clean = true;
    QString error;

    bool read(std::string_view xml, const Window &w)
    {
        XmlScanner xmlScanner(xml, m_limits.maxDepth);
        m_scanner = &xmlScanner;
        int junction = w.junction[0] >= 0 ? 0 : 2;
        int junctionDepth = 0;
        int minDepth = INT_MAX;
        for (;;) {
            const qint64 pos = xmlScanner.position();
            if (junction < 2 && xmlScanner.atTokenBoundary()) {
                if (pos == w.junction[junction]) {
                    if (junction == 0) {
                        junctionDepth = minDepth = xmlScanner.depth();
                        clean = !m_cellDepth;
                    } else {
                        clean = clean && xmlScanner.depth() == junctionDepth && minDepth >= junctionDepth;
                    }
                    ++junction;
                } else if (pos > w.junction[junction]) {
                    clean = false;
                    junction = 2;
                }
            }
            if (pos >= w.stopAt && xmlScanner.atTokenBoundary())
                return true;
            const XmlScanner::Token t = xmlScanner.next();
            if (t == XmlScanner::Invalid) {
                error = QStringLiteral("its XML cannot be read: %1").arg(xmlScanner.errorString());
                return false;
            }
            if (t == XmlScanner::EndOfDocument)
                return true;
            if (junction == 1)
                minDepth = qMin(minDepth, xmlScanner.depth());
            bool stop = false;
            if (!token(t, pos >= w.keepFrom && pos < w.keepTo, &stop))
                return false;
            if (stop)
                return true;
        }
    }

private:
    enum Type { Number, Shared, Inline, Text, Logical };

    bool fail(const QString &why)
    {
        error = why;
        return false;
    }

    bool token(XmlScanner::Token t, bool keep, bool *stop)
    {
        XmlScanner &xml = *m_scanner;
        const int depth = xml.depth();
        if (t == XmlScanner::Text) {
            if ((m_valueDepth || m_textDepth) && !m_phoneticDepth) {
                const size_t before = m_text.size();
                if (!appendXmlText(xml.text(), xml.isCData(), &m_text))
                    return fail(QStringLiteral("a cell holds an unknown entity reference"));
                chars += qint64(m_text.size() - before);
                if (chars > m_limits.maxTextChars)
                    return fail(QStringLiteral("the sheet holds too much text"));
            }
            return true;
        }
        const std::string_view name = xml.name();
        if (t == XmlScanner::EndElement) {
            const int closed = depth + 1;
            if (closed == m_textDepth)
                m_textDepth = 0;
            else if (closed == m_phoneticDepth)
                m_phoneticDepth = 0;
            else if (closed == m_inlineDepth)
                m_inlineDepth = 0;
            else if (closed == m_valueDepth)
                m_valueDepth = 0;
            else if (closed == m_cellDepth) {
                m_cellDepth = 0;
                return endCell(stop);
            } else if (closed == m_dataDepth) {
                m_dataDepth = 0;
            }
            return true;
        }
        // A start element.
        if (!m_dataDepth) {
            if (is(name, "sheetData"))
                m_dataDepth = depth;
            return true;
        }
        if (m_cellDepth) {
            if (is(name, "v") && !m_valueDepth && !m_inlineDepth) {
                m_valueDepth = depth;
                m_hasValue = true;
            } else if (is(name, "is") && !m_inlineDepth && !m_valueDepth) {
                m_inlineDepth = depth;
            } else if (m_inlineDepth && !m_phoneticDepth && is(name, "rPh")) {
                m_phoneticDepth = depth;  // pronunciation hints are not part of the text
            } else if (m_inlineDepth && !m_phoneticDepth && !m_textDepth && is(name, "t")) {
                m_textDepth = depth;
                m_hasValue = true;
            }
            return true;
        }
        if (is(name, "row")) {
            std::string_view r;
            if (xml.attribute("r", &r)) {
                qint64 row = 0;
                if (!parseCount(r, kMaxRows, &row) || row < 1)
                    return fail(QStringLiteral("a row number is not one of 1 … %1").arg(kMaxRows));
                m_row = int(row);
                m_anchored = true;
            } else {
                relativePositions = relativePositions || (keep && !m_anchored);
                if (m_row >= kMaxRows)
                    return fail(QStringLiteral("the sheet has more than %1 rows").arg(kMaxRows));
                ++m_row;
            }
            m_column = 0;
            return true;
        }
        if (!is(name, "c"))
            return true;
        std::string_view ref;
        if (xml.attribute("r", &ref)) {
            int row = 0, column = 0;
            if (!parseCellRef(ref, &row, &column))
                return fail(QStringLiteral("a cell reference is not one of A1 … %1%2")
                                .arg(columnName(kMaxColumns))
                                .arg(kMaxRows));
            m_row = row;
            m_column = column;
            m_anchored = true;
        } else {
            relativePositions = relativePositions || (keep && !m_anchored);
            if (m_column >= kMaxColumns)
                return fail(QStringLiteral("a row has more than %1 cells").arg(kMaxColumns));
            ++m_column;
        }
        std::string_view type;
        xml.attribute("t", &type);
        m_type = type.empty()                       ? Number
                 : is(type, "s")                    ? Shared
                 : is(type, "inlineStr")            ? Inline
                 : is(type, "b")                    ? Logical
                 : is(type, "str") || is(type, "e") ? Text
                                                    : Number;
        // Cells this reader does not keep, or right of the columns wanted, are passed over
        // whole without reading their values.
        if (!keep || m_column > m_limits.maxColumns || m_row < 1) {
            if (!xml.skipElement())
                return fail(QStringLiteral("its XML cannot be read: %1").arg(xml.errorString()));
            return true;
        }
        m_cellDepth = depth;
        m_hasValue = false;
        m_text.clear();
        return true;
    }

    bool endCell(bool *stop)
    {
        if (!m_hasValue)
            return true;
        if (m_row > m_limits.maxRows) {
            stoppedAtRowLimit = true;
            *stop = true;
            return true;
        }
        QVariant value;
        switch (m_type) {
        case Shared: {
            qint64 index = 0;
            if (parseCount(m_text, INT_MAX, &index) && index < m_shared.size())
                value = m_shared.at(int(index));
            break;
        }
        case Inline:
        case Text: value = fromCellText(fromUtf8(m_text)); break;
        case Logical: value = trimmed(m_text) == "1"; break;
        case Number: {
            const std::string_view s = trimmed(m_text);
            double number = 0;
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), number);
            if (!s.empty() && ec == std::errc() && end == s.data() + s.size())
                value = number;
            else
                value = fromUtf8(m_text);
            break;
        }
        }
        if (!value.isValid())
            return true;
        cells.push_back({m_row, m_column, std::move(value)});
        if (qint64(cells.size()) > m_limits.maxCells)
            return fail(QStringLiteral("the sheet has too many cells"));
        return true;
    }

    const QStringList &m_shared;
    const ReadLimits &m_limits;
    XmlScanner *m_scanner = nullptr;
    int m_row = 0, m_column = 0;
    // Depths of the elements that give the reader its state; 0 when not inside one.
    int m_dataDepth = 0, m_cellDepth = 0, m_valueDepth = 0, m_inlineDepth = 0, m_textDepth = 0, m_phoneticDepth = 0;
    Type m_type = Number;
    bool m_hasValue = false;
    // The current row and column follow from a reference this reader has read itself.
    bool m_anchored = false;
    std::string m_text;
};

// Where the rows of a sheet can be cut in two: just after the <sheetData> start tag, the
// start of a <row> element at or after `from`, and the last </sheetData>. The reader checks
// that the cut falls between whole rows; this only finds a candidate.
struct SheetCut {
    qint64 dataOpenEnd = 0;
    qint64 split = 0;
    qint64 dataClose = 0;
};

bool findSheetCut(const QByteArray &bytes, qint64 from, SheetCut *cut)
{
    int open = bytes.indexOf("<sheetData>");
    if (open < 0)
        open = bytes.indexOf("<sheetData ");
    const int close = bytes.lastIndexOf("</sheetData>");
    if (open < 0 || close <= open)
        return false;
    const int openEnd = bytes.indexOf('>', open) + 1;
    if (openEnd <= 0 || openEnd > close)
        return false;
    int at = int(qBound(qint64(openEnd), from < 0 ? openEnd + (close - openEnd) / 2 : from, qint64(close)));
    for (;;) {
        at = bytes.indexOf("<row", at);
        if (at < 0 || at >= close)
            return false;
        const char next = at + 4 < bytes.size() ? bytes.at(at + 4) : '\0';
        if (next == ' ' || next == '>' || next == '/' || next == '\t' || next == '\n' || next == '\r')
            break;
        at += 4;
    }
    *cut = {openEnd, at, close};
    return true;
}

SheetRead onePass(std::string_view xml, const QStringList &shared, const ReadLimits &limits)
{
    SheetRead out;
    SheetReader reader(shared, limits);
    out.ok = reader.read(xml, SheetReader::Window());
    out.error = reader.error;
    if (out.ok) {
        out.cells = std::move(reader.cells);
        out.stoppedAtRowLimit = reader.stoppedAtRowLimit;
    }
    return out;
}

}  // namespace

SheetRead readSheetXml(const QByteArray &xml, const QStringList &sharedStrings, const ReadLimits &limits,
                       SheetPass pass, qint64 cutFrom)
{
    QByteArray bytes = xml;
    QString error;
    if (!prepareXml(&bytes, &error)) {
        SheetRead out;
        out.error = error;
        return out;
    }
    const bool halves = pass == SheetPass::Halves
                        || (pass == SheetPass::Auto && bytes.size() >= limits.parallelFromBytes);
    SheetCut cut;
    if (!halves || !findSheetCut(bytes, cutFrom, &cut))
        return onePass(view(bytes), sharedStrings, limits);

    // The first half is the part read up to the cut; the second is the part with the rows
    // before the cut left out. Each keeps the cells of its own rows.
    const QByteArray second = bytes.left(int(cut.dataOpenEnd)) + bytes.mid(int(cut.split));
    SheetReader a(sharedStrings, limits), b(sharedStrings, limits);
    SheetReader::Window wa, wb;
    wa.keepTo = wa.stopAt = cut.split;
    wa.junction[0] = cut.dataOpenEnd;
    wa.junction[1] = cut.split;
    wb.keepFrom = cut.dataOpenEnd;
    wb.junction[0] = cut.dataOpenEnd;
    wb.junction[1] = cut.dataOpenEnd + (cut.dataClose - cut.split);
    bool okB = false;
    std::thread other([&] { okB = b.read(view(second), wb); });
    const bool okA = a.read(view(bytes), wa);
    other.join();

    SheetRead out;
    if (okA && a.stoppedAtRowLimit) {
        // The first half read exactly what one pass reads up to the limit.
        out.ok = out.readInHalves = out.stoppedAtRowLimit = true;
        out.cells = std::move(a.cells);
        return out;
    }
    // The second half starts from the state after the <sheetData> start tag; it reads what
    // one pass reads after the first half's rows when those rows are whole elements and
    // no row or cell of the second half depends on the position of the one before.
    if (!okA || !okB || !a.clean || !b.clean || b.relativePositions
        || qint64(a.cells.size() + b.cells.size()) > limits.maxCells || a.chars + b.chars > limits.maxTextChars)
        return onePass(view(bytes), sharedStrings, limits);
    out.ok = out.readInHalves = true;
    out.stoppedAtRowLimit = b.stoppedAtRowLimit;
    out.cells = std::move(a.cells);
    out.cells.insert(out.cells.end(), std::make_move_iterator(b.cells.begin()), std::make_move_iterator(b.cells.end()));
    return out;
}

// ----------------------------------------------------------------------------------------
// The package

// The opened package of a workbook being read. The parts are unpacked with the system's
// minizip, the same one libxlsxwriter writes with (QuaZip exports minizip's function
// names with other signatures, so the two cannot share one process).
class Document::Package {
public:
    Package(const QString &path, const ReadLimits &limits) : m_path(QFile::encodeName(path)), m_limits(limits) {}
    ~Package()
    {
        if (m_zip)
            unzClose(m_zip);
    }

    bool open()
    {
        m_zip = unzOpen64(m_path.constData());
        return m_zip != nullptr;
    }

    bool has(const QString &part)
    {
        return !part.isEmpty() && unzLocateFile(m_zip, part.toUtf8().constData(), 1) == UNZ_OK;
    }

    // The unpacked bytes of a part in UTF-8, refusing parts bigger than the limit. The
    // compressed bytes are read as they are and inflated with libdeflate, a few times
    // faster than zlib; the part's size and CRC from the package are checked.
    bool unpack(const QString &part, QByteArray *bytes, QString *error)
    {
        if (!has(part)) {
            *error = QStringLiteral("the package has no part \"%1\"").arg(part);
            return false;
        }
        unz_file_info64 info;
        int method = 0, level = 0;
        if (unzGetCurrentFileInfo64(m_zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            *error = QStringLiteral("the part \"%1\" cannot be unpacked").arg(part);
            return false;
        }
        if (info.uncompressed_size > quint64(m_limits.maxPartBytes)
            || info.compressed_size > quint64(m_limits.maxPartBytes)) {
            *error = QStringLiteral("the part \"%1\" is too large").arg(part);
            return false;
        }
        if ((info.flag & 1) || (info.compression_method != 0 && info.compression_method != Z_DEFLATED)) {
            *error = QStringLiteral("the part \"%1\" is encrypted or compressed in an unknown way").arg(part);
            return false;
        }
        if (unzOpenCurrentFile2(m_zip, &method, &level, 1) != UNZ_OK) {
            *error = QStringLiteral("the part \"%1\" cannot be unpacked").arg(part);
            return false;
        }
        QByteArray packed(int(info.compressed_size), Qt::Uninitialized);
        qint64 got = 0;
        int n = 0;
        while (got < packed.size()
               && (n = unzReadCurrentFile(m_zip, packed.data() + got,
                                          unsigned(qMin<qint64>(packed.size() - got, 1 << 20))))
                      > 0)
            got += n;
        unzCloseCurrentFile(m_zip);
        const QString damaged = QStringLiteral("the part \"%1\" is damaged").arg(part);
        if (got != packed.size() || n < 0) {
            *error = damaged;
            return false;
        }
        if (info.compression_method == 0) {
            *bytes = packed;
        } else {
            bytes->resize(int(info.uncompressed_size));
            libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
            size_t size = 0;
            const libdeflate_result result = inflater
                                                 ? libdeflate_deflate_decompress(inflater, packed.constData(),
                                                                                 size_t(packed.size()), bytes->data(),
                                                                                 size_t(bytes->size()), &size)
                                                 : LIBDEFLATE_BAD_DATA;
            if (inflater)
                libdeflate_free_decompressor(inflater);
            if (result != LIBDEFLATE_SUCCESS || size != info.uncompressed_size) {
                *error = damaged;
                return false;
            }
        }
        if (libdeflate_crc32(0, bytes->constData(), size_t(bytes->size())) != info.crc) {
            *error = damaged;
            return false;
        }
        if (!prepareXml(bytes, error)) {
            *error = QStringLiteral("the part \"%1\" cannot be read: %2").arg(part, *error);
            return false;
        }
        return true;
    }

    // Runs `handle(scanner, token)` for every token of a part. False with an error when the
    // part is missing, broken or too big, or when `handle` says so.
    template <typename Handler>
    bool parse(const QString &part, QString *error, Handler handle)
    {
        QByteArray bytes;
        if (!unpack(part, &bytes, error))
            return false;
        XmlScanner xml(view(bytes), m_limits.maxDepth);
        for (;;) {
            const XmlScanner::Token t = xml.next();
            if (t == XmlScanner::EndOfDocument)
                return true;
            if (t == XmlScanner::Invalid) {
                *error = QStringLiteral("the XML of the part \"%1\" cannot be read: %2").arg(part, xml.errorString());
                return false;
            }
            if (!handle(xml, t, error))
                return false;
        }
    }

    // Relationship id → target part, for the relationships of `part`.
    bool relationships(const QString &part, QHash<QString, QString> *targets, QHash<QString, QString> *types,
                       QString *error)
    {
        const QString rels = relsPartFor(part);
        if (!has(rels))
            return true;  // a part without relationships
        return parse(rels, error, [&](XmlScanner &xml, XmlScanner::Token t, QString *) {
            if (t != XmlScanner::StartElement || !is(xml.name(), "Relationship"))
                return true;
            std::string_view id, target, type, mode;
            xml.attribute("Id", &id);
            xml.attribute("Target", &target);
            xml.attribute("Type", &type);
            if (xml.attribute("TargetMode", &mode) && xmlAttributeText(mode) == QLatin1String("External"))
                return true;
            const QString key = xmlAttributeText(id);
            targets->insert(key, resolvePart(part, xmlAttributeText(target)));
            types->insert(key, xmlAttributeText(type));
            return true;
        });
    }

private:
    QByteArray m_path;
    ReadLimits m_limits;
    unzFile m_zip = nullptr;
};

Document::Document()
{
    Sheet sheet;
    sheet.name = QStringLiteral("Sheet1");
    sheet.loaded = true;
    m_sheets << sheet;
    m_current = 0;
}

Document::Document(const QString &path, const ReadLimits &limits) : m_limits(limits)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        m_error = QStringLiteral("the file does not exist");
        return;
    }
    if (info.isDir()) {
        m_error = QStringLiteral("it is a folder, not a file");
        return;
    }
    if (!info.isFile()) {
        // A device, a pipe or a socket: nothing a workbook is kept in, and reading one
        // might never end.
        m_error = QStringLiteral("it is not a regular file");
        return;
    }
    m_package = std::make_unique<Package>(path, m_limits);
    if (!m_package->open()) {
        m_error = info.isReadable() ? QStringLiteral("the file is not a workbook (not a zip package)")
                                    : QStringLiteral("the file cannot be read (no permission)");
        return;
    }

    // The workbook part, named by the package's relationships.
    QString workbook = QStringLiteral("xl/workbook.xml");
    {
        QHash<QString, QString> targets, types;
        if (!m_package->relationships(QString(), &targets, &types, &m_error))
            return;
        for (auto it = types.cbegin(); it != types.cend(); ++it)
            if (it.value().endsWith(QLatin1String("/officeDocument")))
                workbook = targets.value(it.key());
    }
    if (!m_package->has(workbook)) {
        m_error = QStringLiteral("the package holds no workbook");
        return;
    }

    QHash<QString, QString> targets, types;
    if (!m_package->relationships(workbook, &targets, &types, &m_error))
        return;

    const bool ok = m_package->parse(workbook, &m_error, [&](XmlScanner &xml, XmlScanner::Token t, QString *error) {
        if (t != XmlScanner::StartElement || !is(xml.name(), "sheet"))
            return true;
        std::string_view name, id;
        xml.attribute("name", &name);
        xml.attribute("id", &id, true);
        Sheet sheet;
        sheet.name = xmlAttributeText(name);
        sheet.part = targets.value(xmlAttributeText(id));
        m_sheets << sheet;
        if (m_sheets.size() > 10000) {
            *error = QStringLiteral("the workbook lists too many sheets");
            return false;
        }
        return true;
    });
    if (!ok)
        return;

    for (auto it = types.cbegin(); it != types.cend(); ++it) {
        if (!it.value().endsWith(QLatin1String("/sharedStrings")))
            continue;
        qint64 chars = 0;
        std::string text;
        int itemDepth = 0, phoneticDepth = 0, textDepth = 0;
        const bool read = m_package->parse(
            targets.value(it.key()), &m_error, [&](XmlScanner &xml, XmlScanner::Token t, QString *error) {
                const int depth = xml.depth();
                if (t == XmlScanner::StartElement) {
                    if (!itemDepth && is(xml.name(), "si")) {
                        itemDepth = depth;
                        text.clear();
                    } else if (itemDepth && !phoneticDepth && is(xml.name(), "rPh")) {
                        phoneticDepth = depth;  // pronunciation hints are not part of the text
                    } else if (itemDepth && !phoneticDepth && !textDepth && is(xml.name(), "t")) {
                        textDepth = depth;
                    }
                } else if (t == XmlScanner::EndElement) {
                    const int closed = depth + 1;
                    if (closed == textDepth) {
                        textDepth = 0;
                    } else if (closed == phoneticDepth) {
                        phoneticDepth = 0;
                    } else if (closed == itemDepth) {
                        itemDepth = 0;
                        m_sharedStrings << fromCellText(fromUtf8(text));
                        if (m_sharedStrings.size() > m_limits.maxCells) {
                            *error = QStringLiteral("the shared strings are too many");
                            return false;
                        }
                    }
                } else if (t == XmlScanner::Text && textDepth && !phoneticDepth) {
                    const size_t before = text.size();
                    if (!appendXmlText(xml.text(), xml.isCData(), &text)) {
                        *error = QStringLiteral("a shared string holds an unknown entity reference");
                        return false;
                    }
                    chars += qint64(text.size() - before);
                    if (chars > m_limits.maxTextChars) {
                        *error = QStringLiteral("the shared strings are too large");
                        return false;
                    }
                }
                return true;
            });
        if (!read)
            return;
        break;
    }
}

Document::~Document() = default;

QStringList Document::sheetNames() const
{
    QStringList names;
    for (const Sheet &s : m_sheets)
        names << s.name;
    return names;
}

Document::Sheet *Document::current() { return m_current >= 0 ? &m_sheets[m_current] : nullptr; }

const Document::Sheet *Document::current() const { return m_current >= 0 ? &m_sheets[m_current] : nullptr; }

QString Document::currentSheet() const { return current() ? current()->name : QString(); }

bool Document::selectSheet(const QString &name)
{
    for (int i = 0; i < m_sheets.size(); ++i) {
        if (m_sheets[i].name != name)
            continue;
        if (!m_sheets[i].loaded && !loadSheet(m_sheets[i]))
            return false;
        m_current = i;
        return true;
    }
    return false;
}

bool Document::renameSheet(const QString &oldName, const QString &newName)
{
    if (newName.isEmpty() || sheetNames().contains(newName))
        return false;
    for (Sheet &s : m_sheets) {
        if (s.name == oldName) {
            s.name = newName;
            return true;
        }
    }
    return false;
}

namespace {

bool cellBefore(const SheetCell &a, const SheetCell &b)
{
    return a.row < b.row || (a.row == b.row && a.column < b.column);
}

}  // namespace

bool Document::loadSheet(Sheet &sheet)
{
    if (!m_package || sheet.part.isEmpty()) {
        m_error = QStringLiteral("the sheet \"%1\" has no data part").arg(sheet.name);
        return false;
    }
    QByteArray bytes;
    if (!m_package->unpack(sheet.part, &bytes, &m_error))
        return false;
    SheetRead read = readSheetXml(bytes, m_sharedStrings, m_limits);
    if (!read.ok) {
        m_error = QStringLiteral("the sheet \"%1\" cannot be read: %2").arg(sheet.name, read.error);
        return false;
    }
    // By row and column; where the part gives a place twice, the later value wins.
    std::vector<SheetCell> &cells = read.cells;
    const auto notIncreasing = [](const SheetCell &a, const SheetCell &b) { return !cellBefore(a, b); };
    if (std::adjacent_find(cells.begin(), cells.end(), notIncreasing) != cells.end()) {
        std::stable_sort(cells.begin(), cells.end(), cellBefore);
        std::vector<SheetCell> unique;
        unique.reserve(cells.size());
        for (size_t i = 0; i < cells.size(); ++i)
            if (i + 1 == cells.size() || cellBefore(cells[i], cells[i + 1]))
                unique.push_back(std::move(cells[i]));
        cells.swap(unique);
    }
    sheet.cells = std::move(cells);
    sheet.stoppedAtRowLimit = read.stoppedAtRowLimit;
    sheet.loaded = true;
    return true;
}

QVariant Document::read(int row, int column) const
{
    const Sheet *sheet = current();
    if (!sheet)
        return {};
    QVariant v;
    const SheetCell key{row, column, {}};
    const auto it = std::lower_bound(sheet->cells.begin(), sheet->cells.end(), key, cellBefore);
    if (it != sheet->cells.end() && it->row == row && it->column == column) {
        v = it->value;
    } else {
        // A cell this document wrote itself; the last write of a place counts.
        for (auto w = sheet->written.rbegin(); w != sheet->written.rend(); ++w) {
            if (w->row == row && w->column == column) {
                v = w->isNumber ? QVariant(w->number) : QVariant(w->text);
                break;
            }
        }
    }
    if (v.userType() == QMetaType::QString && v.toString().isEmpty())
        return {};
    return v;
}

QList<int> Document::rowsWithValues() const
{
    QList<int> rows;
    const Sheet *sheet = current();
    if (!sheet)
        return rows;
    for (const SheetCell &c : sheet->cells) {
        if (c.value.userType() == QMetaType::QString && c.value.toString().isEmpty())
            continue;
        if (rows.isEmpty() || rows.last() != c.row)
            rows << c.row;
    }
    return rows;
}

bool Document::stoppedAtRowLimit() const { return current() && current()->stoppedAtRowLimit; }

bool Document::write(int row, int column, const QVariant &value)
{
    Sheet *sheet = current();
    if (!sheet || row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
        return false;
    Written w{row, column, value.userType() == QMetaType::Double, 0, QString()};
    if (w.isNumber)
        w.number = value.toDouble();
    else
        w.text = value.toString();
    if (!sheet->written.empty()) {
        const Written &last = sheet->written.back();
        if (row < last.row || (row == last.row && column <= last.column))
            sheet->writtenInOrder = false;
    }
    sheet->written.push_back(std::move(w));
    return true;
}

bool Document::addDataValidation(const DataValidation &validation)
{
    Sheet *sheet = current();
    if (!sheet || validation.firstRow < 1 || validation.firstColumn < 1 || validation.lastRow < validation.firstRow
        || validation.lastColumn < validation.firstColumn || validation.lastRow > kMaxRows
        || validation.lastColumn > kMaxColumns)
        return false;
    sheet->validations << validation;
    return true;
}

// ----------------------------------------------------------------------------------------
// Saving

namespace {

// Keeps the UTF-8 texts handed to libxlsxwriter alive until the workbook is closed.
struct CStrings {
    std::vector<QByteArray> store;
    char *operator()(const QString &s)
    {
        store.push_back(s.toUtf8());
        return store.back().data();
    }
};

bool toLxwValidation(const DataValidation &v, lxw_data_validation *out, CStrings &keep,
                     std::vector<std::vector<char *>> &lists)
{
    *out = lxw_data_validation();
    out->criteria = LXW_VALIDATION_CRITERIA_BETWEEN;
    switch (v.type) {
    case DataValidation::WholeNumber: {
        bool ok1 = false, ok2 = false;
        out->validate = LXW_VALIDATION_TYPE_INTEGER;
        out->minimum_number = v.formula1.toDouble(&ok1);
        out->maximum_number = v.formula2.toDouble(&ok2);
        if (!ok1 || !ok2)
            return false;
        break;
    }
    case DataValidation::List: {
        QString items = v.formula1;
        if (items.size() < 2 || !items.startsWith(QLatin1Char('"')) || !items.endsWith(QLatin1Char('"')))
            return false;
        items = items.mid(1, items.size() - 2);
        lists.emplace_back();
        for (const QString &item : items.split(QLatin1Char(',')))
            lists.back().push_back(keep(item));
        lists.back().push_back(nullptr);
        out->validate = LXW_VALIDATION_TYPE_LIST;
        out->criteria = LXW_VALIDATION_CRITERIA_NONE;
        out->value_list = lists.back().data();
        break;
    }
    case DataValidation::Custom:
        out->validate = LXW_VALIDATION_TYPE_CUSTOM_FORMULA;
        out->criteria = LXW_VALIDATION_CRITERIA_NONE;
        out->value_formula = keep(v.formula1);
        break;
    }
    out->ignore_blank = v.allowBlank ? LXW_VALIDATION_ON : LXW_VALIDATION_OFF;
    out->show_input = v.showPrompt ? LXW_VALIDATION_ON : LXW_VALIDATION_OFF;
    out->show_error = v.showError ? LXW_VALIDATION_ON : LXW_VALIDATION_OFF;
    out->error_type = v.errorStyle == DataValidation::Warning       ? LXW_VALIDATION_ERROR_TYPE_WARNING
                      : v.errorStyle == DataValidation::Information ? LXW_VALIDATION_ERROR_TYPE_INFORMATION
                                                                    : LXW_VALIDATION_ERROR_TYPE_STOP;
    if (!v.promptTitle.isEmpty())
        out->input_title = keep(v.promptTitle);
    if (!v.prompt.isEmpty())
        out->input_message = keep(v.prompt);
    if (!v.errorTitle.isEmpty())
        out->error_title = keep(v.errorTitle);
    if (!v.error.isEmpty())
        out->error_message = keep(v.error);
    return true;
}

// A cell's text as UTF-8 into a buffer that is used again for every cell. The text holds
// no lone surrogate (toCellText escapes them).
void toUtf8(const QString &text, std::string *out)
{
    out->clear();
    const ushort *p = text.utf16();
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        uint c = p[i];
        if (c < 0x80) {
            out->push_back(char(c));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1]))
            c = QChar::surrogateToUcs4(ushort(c), p[++i]);
        if (c < 0x800) {
            out->push_back(char(0xC0 | (c >> 6)));
        } else if (c < 0x10000) {
            out->push_back(char(0xE0 | (c >> 12)));
            out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        } else {
            out->push_back(char(0xF0 | (c >> 18)));
            out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        }
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

// A file for libxlsxwriter to write the package into. On Linux it lives in memory, so that
// writing it cannot fail for want of disk space and every error about the target comes
// from our own write; elsewhere it is a temporary file.
class PackageFile {
public:
    PackageFile()
    {
#ifdef Q_OS_LINUX
        m_fd = memfd_create("varilume-workbook", MFD_CLOEXEC);
        if (m_fd >= 0 && QFileInfo(QStringLiteral("/proc/self/fd")).isDir()) {
            m_name = "/proc/self/fd/" + QByteArray::number(m_fd);
            return;
        }
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
#endif
        m_temp.setFileTemplate(QDir::tempPath() + QStringLiteral("/varilume-workbook-XXXXXX.xlsx"));
        if (m_temp.open()) {
            m_name = QFile::encodeName(m_temp.fileName());
            m_temp.close();
        }
    }
    ~PackageFile()
    {
#ifdef Q_OS_LINUX
        if (m_fd >= 0)
            ::close(m_fd);
#endif
    }

    QByteArray name() const { return m_name; }

    bool readAll(QByteArray *bytes)
    {
#ifdef Q_OS_LINUX
        if (m_fd >= 0) {
            bytes->clear();
            if (::lseek(m_fd, 0, SEEK_SET) != 0)
                return false;
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n < 0)
                    return false;
                if (n == 0)
                    return true;
                bytes->append(buffer, int(n));
            }
        }
#endif
        QFile file(m_temp.fileName());
        if (!file.open(QIODevice::ReadOnly))
            return false;
        *bytes = file.readAll();
        return true;
    }

private:
    int m_fd = -1;
    QTemporaryFile m_temp;
    QByteArray m_name;
};

SaveFailure classifySaveFailure(const QString &path, qint64 size, int errorCode)
{
    // What the system said, where it says it plainly.
    switch (errorCode) {
    case ENOSPC:
    case EDQUOT: return SaveFailure::NoSpace;
    case EROFS: return SaveFailure::ReadOnlyFileSystem;
    default: break;
    }
    const QFileInfo target(path);
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir())
        return SaveFailure::NoFolder;
#ifdef Q_OS_LINUX
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) == 0) {
        if (fs.f_flag & ST_RDONLY)
            return SaveFailure::ReadOnlyFileSystem;
        if (quint64(fs.f_bavail) * fs.f_frsize < quint64(size) + 65536)
            return SaveFailure::NoSpace;
    }
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0
        || (target.exists() && ::access(QFile::encodeName(path).constData(), W_OK) != 0))
        return SaveFailure::NotPermitted;
#else
    Q_UNUSED(size)
    if (!QFileInfo(folder).isWritable() || (target.exists() && !target.isWritable()))
        return SaveFailure::NotPermitted;
#endif
    return SaveFailure::Other;
}

}  // namespace

bool Document::buildPackage(QByteArray *bytes)
{
    PackageFile file;
    if (file.name().isEmpty()) {
        m_error = QStringLiteral("no room for the workbook being built");
        return false;
    }
    CStrings keep;
    std::vector<std::vector<char *>> lists;
    // Rows go into the package as they are written, with their texts inline: a third less
    // work than building a shared-string table first. Cells must come row by row.
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(file.name().constData(), &options);
    if (!workbook) {
        m_error = QStringLiteral("cannot start the workbook");
        return false;
    }
    bool ok = true;
    std::string utf8;
    for (Sheet &sheet : m_sheets) {
        lxw_worksheet *ws = workbook_add_worksheet(workbook, keep(sheet.name));
        if (!ws) {
            ok = false;
            break;
        }
        std::vector<Written> &written = sheet.written;
        if (!sheet.writtenInOrder) {
            std::stable_sort(written.begin(), written.end(), [](const Written &a, const Written &b) {
                return a.row < b.row || (a.row == b.row && a.column < b.column);
            });
            std::vector<Written> unique;
            for (size_t i = 0; i < written.size(); ++i)
                if (i + 1 == written.size() || written[i].row != written[i + 1].row
                    || written[i].column != written[i + 1].column)
                    unique.push_back(std::move(written[i]));
            written.swap(unique);
            sheet.writtenInOrder = true;
        }
        for (const Written &w : written) {
            const lxw_row_t row = lxw_row_t(w.row - 1);
            const lxw_col_t column = lxw_col_t(w.column - 1);
            if (w.isNumber) {
                ok = ok && worksheet_write_number(ws, row, column, w.number, nullptr) == LXW_NO_ERROR;
                continue;
            }
            bool cut = false;
            toUtf8(toCellText(w.text, &cut), &utf8);
            if (cut)
                m_cutTexts << CutText{w.row, w.column, int(w.text.size())};
            ok = ok && worksheet_write_string(ws, row, column, utf8.c_str(), nullptr) == LXW_NO_ERROR;
        }
        for (const DataValidation &v : sheet.validations) {
            lxw_data_validation dv;
            ok = ok && toLxwValidation(v, &dv, keep, lists)
                 && worksheet_data_validation_range(ws, lxw_row_t(v.firstRow - 1), lxw_col_t(v.firstColumn - 1),
                                                    lxw_row_t(v.lastRow - 1), lxw_col_t(v.lastColumn - 1), &dv)
                        == LXW_NO_ERROR;
        }
    }
    const lxw_error closed = workbook_close(workbook);
    if (!ok || closed != LXW_NO_ERROR) {
        m_error = closed != LXW_NO_ERROR ? QString::fromUtf8(lxw_strerror(closed))
                                         : QStringLiteral("a cell or validation could not be written");
        return false;
    }
    if (!file.readAll(bytes)) {
        m_error = QStringLiteral("the workbook built cannot be read back");
        return false;
    }
    return true;
}

bool Document::saveAs(const QString &path, SpecialTarget special)
{
    m_error.clear();
    m_saveFailure = SaveFailure::None;
    m_cutTexts.clear();
    QByteArray bytes;
    if (!buildPackage(&bytes)) {
        m_saveFailure = SaveFailure::Other;
        return false;
    }
    FileProblem problem;
    if (!writeFileWhole(path, bytes, special, &problem)) {
        m_error = problem.isEmpty() ? QStringLiteral("the file cannot be written") : problem.reason;
        m_saveFailure = classifySaveFailure(path, bytes.size(), problem.code);
        return false;
    }
    return true;
}

}  // namespace vl::xlsx
