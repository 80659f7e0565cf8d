#include "xlsxdocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryFile>
#include <QXmlStreamReader>

#include <minizip/unzip.h>
#include <xlsxwriter.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace vl::xlsx {

namespace {


const QString kRelNs = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

quint64 cellKey(int row, int column) { return (quint64(quint32(row)) << 32) | quint32(column); }

// "B12" → (12, 2); false for anything else.
bool parseCellRef(QStringView ref, int *row, int *column)
{
    int i = 0;
    qint64 col = 0;
    while (i < ref.size() && ref[i].isLetter() && ref[i].unicode() < 128) {
        col = col * 26 + (ref[i].toUpper().unicode() - 'A' + 1);
        if (col > Document::kMaxColumns)
            return false;
        ++i;
    }
    if (i == 0 || i == ref.size())
        return false;
    qint64 r = 0;
    for (; i < ref.size(); ++i) {
        const ushort c = ref[i].unicode();
        if (c < '0' || c > '9')
            return false;
        r = r * 10 + (c - '0');
        if (r > Document::kMaxRows)
            return false;
    }
    if (r < 1)
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

}  // namespace

QString numberText(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }

// Runs `handle` for every token of an XML document while enforcing the nesting limit.
// Returns false with an error when the document is broken or nested too deeply.
template <typename Handler>
bool parseXml(const QByteArray &bytes, const QString &part, const ReadLimits &limits, QString *error, Handler handle)
{
    QXmlStreamReader xml(bytes);
    int depth = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > limits.maxDepth) {
            *error = QStringLiteral("the part \"%1\" is nested too deeply").arg(part);
            return false;
        }
        if (token == QXmlStreamReader::EndElement)
            --depth;
        if (!handle(xml, token, error))
            return false;
        if (token == QXmlStreamReader::StartElement && xml.isEndElement())
            --depth;  // the handler read the element's text up to its end
    }
    if (xml.hasError()) {
        *error = QStringLiteral("the part \"%1\" is not well-formed XML (%2)").arg(part, xml.errorString());
        return false;
    }
    return true;
}

// Reads the cells of a worksheet's XML, or of a piece of it.
class SheetReader {
public:
    SheetReader(const QStringList &shared, const ReadLimits &limits) : m_shared(shared), m_limits(limits) {}

    std::vector<std::pair<quint64, QVariant>> cells;
    qint64 chars = 0;
    // A row or cell gave no reference, so its position depends on what came before it.
    bool relativePositions = false;

    bool read(const QByteArray &bytes, const QString &part, QString *error)
    {
        return parseXml(bytes, part, m_limits, error,
                        [this](QXmlStreamReader &xml, QXmlStreamReader::TokenType t, QString *e) {
                            return token(xml, t, e);
                        });
    }

private:
    bool token(QXmlStreamReader &xml, QXmlStreamReader::TokenType t, QString *error)
    {
        if (t == QXmlStreamReader::StartElement) {
            const auto name = xml.name();
            if (name == QLatin1String("c")) {
                const auto a = xml.attributes();
                const QStringView ref = a.value(QLatin1String("r"));
                int r = 0, c = 0;
                if (!ref.isEmpty() && parseCellRef(ref, &r, &c)) {
                    m_row = r;
                    m_column = c;
                } else {
                    relativePositions = true;
                    ++m_column;
                }
                const QStringView type = a.value(QLatin1String("t"));
                m_type = type.isEmpty() ? Number
                         : type == QLatin1String("s")         ? Shared
                         : type == QLatin1String("inlineStr") ? Inline
                         : type == QLatin1String("b")         ? Logical
                         : type == QLatin1String("str") || type == QLatin1String("e") ? Text
                                                                                       : Number;
                m_value.clear();
                m_inlineText.clear();
                m_hasValue = false;
                m_inCell = true;
            } else if (m_inCell && name == QLatin1String("v")) {
                m_value = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                chars += m_value.size();
                m_hasValue = true;
            } else if (name == QLatin1String("row")) {
                bool ok = false;
                const int r = xml.attributes().value(QLatin1String("r")).toInt(&ok);
                if (!ok)
                    relativePositions = true;
                m_row = ok ? r : m_row + 1;
                m_column = 0;
            } else if (m_inCell && name == QLatin1String("is")) {
                m_inInline = true;
            } else if (m_inInline && name == QLatin1String("rPh")) {
                ++m_phonetic;
            } else if (m_inInline && !m_phonetic && name == QLatin1String("t")) {
                const QString part = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                chars += part.size();
                m_inlineText += part;
                m_hasValue = true;
            }
        } else if (t == QXmlStreamReader::EndElement) {
            const auto name = xml.name();
            if (name == QLatin1String("c") && m_inCell) {
                m_inCell = false;
                return endCell(error);
            }
            if (name == QLatin1String("rPh"))
                --m_phonetic;
            else if (name == QLatin1String("is"))
                m_inInline = false;
        }
        return true;
    }

    bool endCell(QString *error)
    {
        if (!m_hasValue || m_row < 1 || m_row > Document::kMaxRows || m_column < 1 ||
            m_column > Document::kMaxColumns)
            return true;
        QVariant cell;
        switch (m_type) {
        case Shared: {
            bool ok = false;
            const int index = m_value.trimmed().toInt(&ok);
            if (ok && index >= 0 && index < m_shared.size())
                cell = m_shared.at(index);
            break;
        }
        case Inline: cell = m_inlineText; break;
        case Text: cell = m_value; break;
        case Logical: cell = m_value.trimmed() == QLatin1String("1"); break;
        case Number: {
            bool ok = false;
            const double number = m_value.trimmed().toDouble(&ok);
            cell = ok ? QVariant(number) : QVariant(m_value);
            break;
        }
        }
        if (cell.isValid())
            cells.emplace_back(cellKey(m_row, m_column), cell);
        if (qint64(cells.size()) > m_limits.maxCells || chars > m_limits.maxTextChars) {
            *error = QStringLiteral("the sheet is too large");
            return false;
        }
        return true;
    }

    enum Type { Number, Shared, Inline, Text, Logical };

    const QStringList &m_shared;
    const ReadLimits &m_limits;
    int m_row = 0, m_column = 0;
    Type m_type = Number;
    QString m_value;
    QString m_inlineText;
    bool m_inCell = false, m_inInline = false, m_hasValue = false;
    int m_phonetic = 0;
};

// Where the rows of a large sheet can be cut in two so that each half parses on its own:
// the start of a <row> element near the middle of <sheetData>. Gives 0 when the sheet is
// not plain enough to cut safely (comments, CDATA or processing instructions among the
// rows, a prefixed sheetData, no row to cut at).
struct SheetCut {
    int dataOpenEnd = 0;  // just after the <sheetData ...> start tag
    int split = 0;        // where the second half's first <row> starts
    int dataClose = 0;    // where </sheetData> starts
};

bool findSheetCut(const QByteArray &bytes, SheetCut *cut)
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
    const QByteArray rows = QByteArray::fromRawData(bytes.constData() + openEnd, close - openEnd);
    for (const char *markup : {"<!", "<?", "-->", "]]>", "?>"})
        if (rows.contains(markup))
            return false;
    const int split = bytes.indexOf("<row ", openEnd + (close - openEnd) / 2);
    if (split < 0 || split >= close)
        return false;
    *cut = {openEnd, split, close};
    return true;
}

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

    // The unpacked bytes of a part, refusing parts bigger than the limit.
    bool unpack(const QString &part, QByteArray *bytes, QString *error)
    {
        if (!has(part)) {
            *error = QStringLiteral("the package has no part \"%1\"").arg(part);
            return false;
        }
        if (unzOpenCurrentFile(m_zip) != UNZ_OK) {
            *error = QStringLiteral("the part \"%1\" cannot be unpacked").arg(part);
            return false;
        }
        bytes->clear();
        char buffer[65536];
        int n = 0;
        while ((n = unzReadCurrentFile(m_zip, buffer, sizeof buffer)) > 0) {
            if (bytes->size() + qint64(n) > m_limits.maxPartBytes) {
                unzCloseCurrentFile(m_zip);
                *error = QStringLiteral("the part \"%1\" is too large").arg(part);
                return false;
            }
            bytes->append(buffer, n);
        }
        // Closing checks the part's CRC.
        if (unzCloseCurrentFile(m_zip) != UNZ_OK || n < 0) {
            *error = QStringLiteral("the part \"%1\" is damaged").arg(part);
            return false;
        }
        return true;
    }

    // Runs `handle` for every token of a part's XML while enforcing the limits.
    // Returns false with an error when the part is missing, broken or too big.
    template <typename Handler>
    bool parse(const QString &part, QString *error, Handler handle)
    {
        QByteArray bytes;
        return unpack(part, &bytes, error) && parseXml(bytes, part, m_limits, error, handle);
    }

    // Relationship id → target part, for the relationships of `part`.
    bool relationships(const QString &part, QHash<QString, QString> *targets, QHash<QString, QString> *types,
                       QString *error)
    {
        const QString rels = relsPartFor(part);
        if (!has(rels))
            return true;  // a part without relationships
        return parse(rels, error, [&](QXmlStreamReader &xml, QXmlStreamReader::TokenType t, QString *) {
            if (t == QXmlStreamReader::StartElement && xml.name() == QLatin1String("Relationship")) {
                const auto a = xml.attributes();
                const QString id = a.value(QLatin1String("Id")).toString();
                if (a.value(QLatin1String("TargetMode")) == QLatin1String("External"))
                    return true;
                targets->insert(id, resolvePart(part, a.value(QLatin1String("Target")).toString()));
                types->insert(id, a.value(QLatin1String("Type")).toString());
            }
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
    if (!QFileInfo(path).isFile()) {
        m_error = QStringLiteral("the file does not exist");
        return;
    }
    m_package = std::make_unique<Package>(path, m_limits);
    if (!m_package->open()) {
        m_error = QStringLiteral("the file is not a workbook (not a zip package)");
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

    const bool ok = m_package->parse(workbook, &m_error, [&](QXmlStreamReader &xml, QXmlStreamReader::TokenType t,
                                                              QString *) {
        if (t == QXmlStreamReader::StartElement && xml.name() == QLatin1String("sheet")) {
            const auto a = xml.attributes();
            Sheet sheet;
            sheet.name = a.value(QLatin1String("name")).toString();
            sheet.part = targets.value(a.value(kRelNs, QLatin1String("id")).toString());
            m_sheets << sheet;
        }
        return true;
    });
    if (!ok)
        return;

    for (auto it = types.cbegin(); it != types.cend(); ++it) {
        if (!it.value().endsWith(QLatin1String("/sharedStrings")))
            continue;
        qint64 chars = 0;
        QString text;
        bool inItem = false;
        int phonetic = 0;
        const bool read = m_package->parse(
            targets.value(it.key()), &m_error,
            [&](QXmlStreamReader &xml, QXmlStreamReader::TokenType t, QString *error) {
                if (t == QXmlStreamReader::StartElement) {
                    if (xml.name() == QLatin1String("si")) {
                        inItem = true;
                        text.clear();
                    } else if (xml.name() == QLatin1String("rPh")) {
                        ++phonetic;  // pronunciation hints are not part of the text
                    } else if (inItem && !phonetic && xml.name() == QLatin1String("t")) {
                        const QString part = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                        chars += part.size();
                        text += part;
                    }
                } else if (t == QXmlStreamReader::EndElement) {
                    if (xml.name() == QLatin1String("rPh"))
                        --phonetic;
                    else if (xml.name() == QLatin1String("si")) {
                        inItem = false;
                        m_sharedStrings << text;
                    }
                }
                if (chars > m_limits.maxTextChars || m_sharedStrings.size() > m_limits.maxCells) {
                    *error = QStringLiteral("the shared strings are too large");
                    return false;
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

bool Document::loadSheet(Sheet &sheet)
{
    if (!m_package || sheet.part.isEmpty()) {
        m_error = QStringLiteral("the sheet \"%1\" has no data part").arg(sheet.name);
        return false;
    }
    QByteArray bytes;
    if (!m_package->unpack(sheet.part, &bytes, &m_error))
        return false;

    // A large sheet is read as two halves at once, one per core; the halves must give what
    // one pass would give, or the sheet is read again in one pass.
    std::vector<std::pair<quint64, QVariant>> cells;
    SheetCut cut;
    bool done = false;
    if (bytes.size() >= m_limits.parallelFromBytes && findSheetCut(bytes, &cut)) {
        const QByteArray first = bytes.left(cut.split) + bytes.mid(cut.dataClose);
        const QByteArray second = bytes.left(cut.dataOpenEnd) + bytes.mid(cut.split);
        SheetReader a(m_sharedStrings, m_limits), b(m_sharedStrings, m_limits);
        QString errorA, errorB;
        bool okB = false;
        std::thread other([&] { okB = b.read(second, sheet.part, &errorB); });
        const bool okA = a.read(first, sheet.part, &errorA);
        other.join();
        if (okA && okB && !a.relativePositions && !b.relativePositions) {
            cells = std::move(a.cells);
            cells.insert(cells.end(), std::make_move_iterator(b.cells.begin()),
                         std::make_move_iterator(b.cells.end()));
            done = qint64(cells.size()) <= m_limits.maxCells && a.chars + b.chars <= m_limits.maxTextChars;
        }
    }
    if (!done) {
        SheetReader reader(m_sharedStrings, m_limits);
        if (!reader.read(bytes, sheet.part, &m_error)) {
            m_error.replace(QLatin1String("the sheet "), QStringLiteral("the sheet \"%1\" ").arg(sheet.name));
            return false;
        }
        cells = std::move(reader.cells);
    }
    if (qint64(cells.size()) > m_limits.maxCells) {
        m_error = QStringLiteral("the sheet \"%1\" is too large").arg(sheet.name);
        return false;
    }
    QHash<quint64, QVariant> map;
    map.reserve(int(cells.size()));
    for (auto &cell : cells)
        map.insert(cell.first, std::move(cell.second));  // a later cell of a position wins
    sheet.cells = std::move(map);
    sheet.loaded = true;
    return true;
}

QVariant Document::read(int row, int column) const
{
    const Sheet *sheet = current();
    if (!sheet)
        return {};
    QVariant v = sheet->cells.value(cellKey(row, column));
    if (!v.isValid()) {  // a cell this document wrote itself
        const auto it = sheet->written.find({row, column});
        if (it != sheet->written.end())
            v = it->second;
    }
    if (v.userType() == QMetaType::QString && v.toString().isEmpty())
        return {};
    return v;
}

std::map<std::pair<int, int>, QVariant> Document::cells() const
{
    std::map<std::pair<int, int>, QVariant> all;
    const Sheet *sheet = current();
    if (!sheet)
        return all;
    for (const auto &[cell, text] : sheet->written)
        all[cell] = text;
    for (auto it = sheet->cells.cbegin(); it != sheet->cells.cend(); ++it)  // as read() prefers them
        all[{int(it.key() >> 32), int(quint32(it.key()))}] = it.value();
    for (auto it = all.begin(); it != all.end();) {
        if (it->second.userType() == QMetaType::QString && it->second.toString().isEmpty())
            it = all.erase(it);
        else
            ++it;
    }
    return all;
}

bool Document::write(int row, int column, const QVariant &value)
{
    Sheet *sheet = current();
    if (!sheet || row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
        return false;
    const QString text = value.userType() == QMetaType::Double ? numberText(value.toDouble()) : value.toString();
    sheet->written[{row, column}] = text;
    return true;
}

bool Document::addDataValidation(const DataValidation &validation)
{
    Sheet *sheet = current();
    if (!sheet || validation.firstRow < 1 || validation.firstColumn < 1 || validation.lastRow < validation.firstRow ||
        validation.lastColumn < validation.firstColumn || validation.lastRow > kMaxRows ||
        validation.lastColumn > kMaxColumns)
        return false;
    sheet->validations << validation;
    return true;
}

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

}  // namespace

bool Document::saveAs(const QString &path)
{
    const QFileInfo target(path);
    const bool existed = target.exists();
    const QFileDevice::Permissions permissions =
        existed ? QFile::permissions(path)
                : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    // Reserve a temporary name beside the target; the workbook replaces the target only
    // when it has been written completely.
    if (existed && !target.isWritable()) {
        m_error = QStringLiteral("the file is read-only");
        return false;
    }
    QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                        QStringLiteral(".XXXXXX"));
    temp.setAutoRemove(true);
    if (!temp.open()) {
        m_error = temp.errorString();
        return false;
    }
    const QByteArray tempName = QFile::encodeName(temp.fileName());
    temp.close();

    CStrings keep;
    std::vector<std::vector<char *>> lists;
    // Rows go straight to the file as they are written, with their texts inline: a third
    // less work than building a shared-string table first.
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(tempName.constData(), &options);
    if (!workbook) {
        m_error = QStringLiteral("cannot start the workbook");
        return false;
    }
    bool ok = true;
    for (const Sheet &sheet : qAsConst(m_sheets)) {
        lxw_worksheet *ws = workbook_add_worksheet(workbook, keep(sheet.name));
        if (!ws) {
            ok = false;
            break;
        }
        for (const auto &[cell, text] : sheet.written)
            ok = ok && worksheet_write_string(ws, lxw_row_t(cell.first - 1), lxw_col_t(cell.second - 1), keep(text),
                                              nullptr) == LXW_NO_ERROR;
        for (const DataValidation &v : sheet.validations) {
            lxw_data_validation dv;
            ok = ok && toLxwValidation(v, &dv, keep, lists) &&
                 worksheet_data_validation_range(ws, lxw_row_t(v.firstRow - 1), lxw_col_t(v.firstColumn - 1),
                                                 lxw_row_t(v.lastRow - 1), lxw_col_t(v.lastColumn - 1),
                                                 &dv) == LXW_NO_ERROR;
        }
    }
    const lxw_error closed = workbook_close(workbook);
    if (!ok || closed != LXW_NO_ERROR) {
        m_error = closed != LXW_NO_ERROR ? QString::fromUtf8(lxw_strerror(closed))
                                         : QStringLiteral("a cell or validation could not be written");
        return false;
    }
    if (std::rename(tempName.constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        m_error = QStringLiteral("cannot replace %1").arg(path);
        return false;
    }
    temp.setAutoRemove(false);  // the name now belongs to the target
    // The temporary file was private to its owner; give the workbook the target's permissions.
    QFile::setPermissions(path, permissions);
    return true;
}

}  // namespace vl::xlsx
