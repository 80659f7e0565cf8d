#include "workbookio.h"

#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QAbstractItemModel>
#include <QStandardItem>

namespace vl {

namespace {

const QString &sheetName()
{
    static const QString name = QStringLiteral("MainTable");
    return name;
}

QString quotedList(const QStringList &items)
{
    return QLatin1Char('"') + items.join(QLatin1Char(',')) + QLatin1Char('"');
}

QStringList offAndNumbers(int last)
{
    QStringList items = {QStringLiteral("OFF")};
    for (int i = 1; i <= last; ++i)
        items << QString::number(i);
    return items;
}

}  // namespace

QString workbookCellText(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::UnknownType: return QString();
    case QMetaType::Double: return xlsx::numberText(value.toDouble());
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    default: return value.toString();
    }
}

namespace {

// Where each rule column and the remark are in the sheet (0: not there).
struct HeaderMap {
    int column[kRuleColumns] = {};
    int remark = 0;
};

QString headerProblem(const QString &what)
{
    return QStringLiteral("The first row of the sheet is not the editor's header: %1. The editor reads the titles "
                          "SN, DMX, Sta, Ctl, CH, Fix, Fade In, Fade Out, Toggle and Enable in any order, and "
                          "Remark last.")
        .arg(what);
}

QString quotedTitle(const QString &title)
{
    QString shown = title.left(40);
    if (shown.size() < title.size())
        shown += QStringLiteral("…");
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

// Maps the titles of the header row (columns 1 …) onto the table; false with a message
// naming the first title that does not fit.
bool mapHeader(const QStringList &titles, HeaderMap *map, QString *problem)
{
    const QStringList &labels = ruleColumnLabels();
    for (int i = 0; i < titles.size(); ++i) {
        const int column = i + 1;
        const QString title = titles.at(i).trimmed();
        const QString where = QStringLiteral("column %1").arg(xlsx::columnName(column));
        if (map->remark) {
            *problem = headerProblem(QStringLiteral("%1 in %2 comes after \"Remark\", which must be the last title")
                                         .arg(quotedTitle(title), where));
            return false;
        }
        if (title.compare(QLatin1String("Remark"), Qt::CaseInsensitive) == 0) {
            map->remark = column;
            continue;
        }
        int rule = -1;
        for (int c = 0; c < labels.size(); ++c)
            if (title.compare(labels.at(c), Qt::CaseInsensitive) == 0)
                rule = c;
        if (rule < 0) {
            *problem = headerProblem(
                QStringLiteral("%1 in %2 is not one of its titles").arg(quotedTitle(title), where));
            return false;
        }
        if (map->column[rule]) {
            *problem = headerProblem(QStringLiteral("%1 in %2 is there twice (also in column %3)")
                                         .arg(quotedTitle(title), where, xlsx::columnName(map->column[rule])));
            return false;
        }
        map->column[rule] = column;
    }
    if (!map->column[ColSn]) {
        *problem = headerProblem(QStringLiteral("it has no \"SN\" column, which tells where the rules end"));
        return false;
    }
    return true;
}

QString text(const xlsx::Document &doc, int row, int column)
{
    return column ? workbookCellText(doc.read(row, column)) : QString();
}

}  // namespace

WorkbookImport readRuleWorkbook(const QString &path, const xlsx::ReadLimits &limits)
{
    WorkbookImport result;
    // The editor's header has 11 titles; reading one more column shows a wider header,
    // and the cells further right are passed over unread.
    xlsx::ReadLimits bounded = limits;
    bounded.maxColumns = qMin(bounded.maxColumns, kRuleColumns + 2);
    bounded.maxRows = qMin(bounded.maxRows, kMaxWorkbookRules + 1);
    xlsx::Document doc(path, bounded);
    if (!doc.isOpen()) {
        result.detail = doc.errorString();
        return result;
    }
    const QStringList sheets = doc.sheetNames();
    if (sheets.isEmpty()) {
        result.status = WorkbookImport::NoSheets;
        return result;
    }
    if (!doc.selectSheet(sheets.first())) {
        result.detail = doc.errorString();
        return result;
    }

    QStringList titles;
    for (int c = 1; c <= bounded.maxColumns; ++c) {
        const QString title = workbookCellText(doc.read(1, c));
        if (title.isEmpty())
            break;
        titles << title;
    }
    if (titles.isEmpty()) {
        result.status = WorkbookImport::NoHeader;
        return result;
    }
    if (titles.size() == 1) {
        result.status = WorkbookImport::OneColumn;
        return result;
    }
    HeaderMap map;
    if (!mapHeader(titles, &map, &result.detail)) {
        result.status = WorkbookImport::BadHeader;
        return result;
    }

    const int lastRow = kMaxWorkbookRules + 1;
    int r = 2;
    for (; r <= lastRow; ++r) {
        const QString sn = text(doc, r, map.column[ColSn]);
        if (sn.isEmpty()) {
            result.firstRowLeftOut = r;
            break;
        }
        QStringList texts;
        texts.reserve(kRuleColumns);
        for (int c = 0; c < kRuleColumns; ++c)
            texts << (c == ColSn ? sn : text(doc, r, map.column[c]));
        result.rows << texts;
        const QString remark = text(doc, r, map.remark).trimmed();
        if (!remark.isEmpty())
            result.remarkLines += QStringLiteral("alias%1=%2\r\n").arg(r - 2).arg(remark).toUtf8();
    }
    if (result.firstRowLeftOut) {
        for (const int row : doc.rowsWithValues()) {
            if (row < result.firstRowLeftOut)
                continue;
            bool filled = !text(doc, row, map.remark).isEmpty();
            for (int c = 0; c < kRuleColumns && !filled; ++c)
                filled = !text(doc, row, map.column[c]).isEmpty();
            result.rowsLeftOut += filled;
        }
    }
    result.moreThanTaken = doc.stoppedAtRowLimit();
    result.headers = ruleColumnLabels();
    result.status = WorkbookImport::Loaded;
    return result;
}

void applyWorkbookRows(RuleModel &rules, const WorkbookImport &in)
{
    rules.clear();
    rules.setHorizontalHeaderLabels(in.headers);
    for (const QStringList &texts : in.rows) {
        QList<QStandardItem *> items;
        items.reserve(texts.size());
        for (const QString &text : texts)
            items << new QStandardItem(text);
        rules.appendRow(items);
    }
}

QStringList workbookImportNotes(const WorkbookImport &in, bool rulesPastTheBox)
{
    QStringList notes;
    if (in.firstRowLeftOut && in.rowsLeftOut > 0)
        notes << QStringLiteral("%1%2 %3 from sheet row %4 on %5 not loaded: the SN cell of sheet row %4 is empty, "
                                "and loading stops at the first row without an SN.")
                     .arg(in.moreThanTaken ? QStringLiteral("At least ") : QString())
                     .arg(in.rowsLeftOut)
                     .arg(in.rowsLeftOut == 1 ? QStringLiteral("row") : QStringLiteral("rows"))
                     .arg(in.firstRowLeftOut)
                     .arg(in.rowsLeftOut == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    if (in.moreThanTaken && !in.firstRowLeftOut)
        notes << QStringLiteral("The sheet goes on after sheet row %1, but the editor takes at most %2 rules; the "
                                "rows after it were not loaded.")
                     .arg(kMaxWorkbookRules + 1)
                     .arg(kMaxWorkbookRules);
    int beyond = 0;
    for (int r = kRuleRows; rulesPastTheBox && r < in.rows.size(); ++r) {
        const QStringList &texts = in.rows.at(r);
        for (int c = ColDmx; c < texts.size(); ++c) {
            if (!texts.at(c).isEmpty()) {
                ++beyond;
                break;
            }
        }
    }
    if (beyond > 0)
        notes << QStringLiteral("The table now has %1 rows, and rows %2 to %1 hold %3 %4; the device holds %5 "
                                "rules, so Set sends rows 1 to %5 only.")
                     .arg(in.rows.size())
                     .arg(kRuleRows + 1)
                     .arg(beyond)
                     .arg(beyond == 1 ? QStringLiteral("rule") : QStringLiteral("rules"))
                     .arg(kRuleRows);
    return notes;
}

QList<xlsx::DataValidation> ruleValidations(int rows)
{
    using DV = xlsx::DataValidation;
    const int last = rows + 1;
    auto make = [last](int column, DV::Type type, const QString &f1, const QString &f2, const QString &prompt,
                       const QString &error) {
        DV v;
        v.type = type;
        v.formula1 = f1;
        v.formula2 = f2;
        v.prompt = prompt;
        v.showPrompt = !prompt.isEmpty();
        v.error = error;
        v.showError = !error.isEmpty();
        v.firstRow = 2;
        v.lastRow = last;
        v.firstColumn = v.lastColumn = column;
        return v;
    };
    QStringList channels = {QStringLiteral("ALL")};
    for (int i = 1; i <= 16; ++i)
        channels << QString::number(i);
    const QStringList onOff = {QStringLiteral("ON"), QStringLiteral("OFF")};

    DV fix = make(6, DV::Custom,
                  QStringLiteral("OR(AND(ISNUMBER(A1), A1>=1, A1<=255), UPPER(A1)=\"OFF\")")
                      .replace(QLatin1String("A1"), QStringLiteral("F%1").arg(2)),
                  QString(), QStringLiteral("Enter 1~255 (or OFF)"),
                  QStringLiteral("Fix must be 1~255 (OFF allowed if typed)"));
    fix.allowBlank = false;
    fix.promptTitle = QStringLiteral("Input Fix");
    fix.errorTitle = QStringLiteral("Invalid Fix Value");

    return {
        make(2, DV::WholeNumber, QStringLiteral("1"), QStringLiteral("1024"), QStringLiteral("Enter 1~1024"),
             QStringLiteral("DMX must be 1~1024")),
        make(3, DV::List, quotedList({QStringLiteral("Note"), QStringLiteral("AT"), QStringLiteral("CC")}), QString(),
             QStringLiteral("Select Sta"), QStringLiteral("Sta must be Note/AT/CC")),
        make(4, DV::WholeNumber, QStringLiteral("0"), QStringLiteral("127"), QStringLiteral("Enter 0~127"),
             QStringLiteral("Ctl must be 0~127")),
        make(5, DV::List, quotedList(channels), QString(), QStringLiteral("Select CH"),
             QStringLiteral("CH must be ALL or 1~16")),
        make(7, DV::List, quotedList(offAndNumbers(50)), QString(), QStringLiteral("Select Fade In"),
             QStringLiteral("Invalid Fade In")),
        make(8, DV::List, quotedList(offAndNumbers(50)), QString(), QStringLiteral("Select Fade Out"),
             QStringLiteral("Invalid Fade Out")),
        make(9, DV::List, quotedList(onOff), QString(), QStringLiteral("Select Toggle"),
             QStringLiteral("Toggle must be ON/OFF")),
        make(10, DV::List, quotedList(onOff), QString(), QStringLiteral("Select Enable"),
             QStringLiteral("Enable must be ON/OFF")),
        fix,
    };
}

namespace {

// A whole number as a spreadsheet stores one: no sign but "-", no leading zero, few
// enough digits to be exact. "007" or "+5" stay texts, so they open again as typed.
bool isPlainWholeNumber(const QString &text)
{
    const int start = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    const int digits = text.size() - start;
    if (digits < 1 || digits > 15 || (text.at(start) == QLatin1Char('0') && (digits > 1 || start)))
        return false;
    for (int i = start; i < text.size(); ++i)
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    return true;
}

QVariant cellValue(const QString &text)
{
    return isPlainWholeNumber(text) ? QVariant(text.toDouble()) : QVariant(text);
}

}  // namespace

void fillRuleWorkbook(xlsx::Document &doc, const QAbstractItemModel &rules, const QAbstractItemModel &remarks)
{
    doc.selectSheet(QStringLiteral("Sheet1"));
    doc.renameSheet(QStringLiteral("Sheet1"), sheetName());
    doc.selectSheet(sheetName());

    const int cols = rules.columnCount();
    const int rows = rules.rowCount();
    for (int c = 0; c < cols; ++c)
        doc.write(1, c + 1, rules.headerData(c, Qt::Horizontal).toString());
    doc.write(1, cols + 1, QStringLiteral("Remark"));

    // Row by row, so the document takes its cells in order.
    const int remarkRows = qMin(rows, remarks.rowCount());
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            QString text = rules.index(r, c).data(Qt::DisplayRole).toString().trimmed();
            if (c == ColCtl)
                text = text.section(QLatin1Char('/'), 0, 0).trimmed();
            // Loading stops at the first row without an SN; a row always has its number.
            if (c == ColSn && text.isEmpty())
                text = QString::number(r + 1);
            if (!text.isEmpty())
                doc.write(r + 2, c + 1, cellValue(text));
        }
        if (r < remarkRows) {
            const QString remark = remarks.index(r, 0).data(Qt::DisplayRole).toString();
            if (!remark.trimmed().isEmpty())
                doc.write(r + 2, cols + 1, cellValue(remark));
        }
    }
    for (const xlsx::DataValidation &v : ruleValidations(rows))
        doc.addDataValidation(v);
}

QString workbookSaveNote(const xlsx::Document &doc)
{
    const QList<xlsx::CutText> cut = doc.cutTexts();
    if (cut.isEmpty())
        return QString();
    const QStringList &labels = ruleColumnLabels();
    QStringList which;
    for (const xlsx::CutText &t : cut.mid(0, 5)) {
        const QString column = t.column - 1 < labels.size() ? labels.at(t.column - 1) : QStringLiteral("Remark");
        which << QStringLiteral("%1 of row %2 (%3 characters)").arg(column).arg(t.row - 1).arg(t.length);
    }
    QString list = which.join(QStringLiteral(", "));
    if (cut.size() > which.size())
        list += QStringLiteral(" and %1 more").arg(cut.size() - which.size());
    return QStringLiteral("A workbook cell holds at most %1 characters, so %2 %3 cut to that length: %4.")
        .arg(xlsx::kMaxCellText)
        .arg(cut.size() == 1 ? QStringLiteral("this text") : QStringLiteral("these texts"))
        .arg(cut.size() == 1 ? QStringLiteral("was") : QStringLiteral("were"))
        .arg(list);
}

QString withWorkbookSuffix(const QString &name)
{
    if (name.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        return name;
    return name + QStringLiteral(".xlsx");
}

}  // namespace vl
