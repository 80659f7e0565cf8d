#include "workbookio.h"

#include "table/rulecolumns.h"
#include "table/rulemodel.h"

#include <QAbstractItemModel>

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

WorkbookImport readRuleWorkbook(const QString &path, const xlsx::ReadLimits &limits)
{
    WorkbookImport result;
    xlsx::Document doc(path, limits);
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

    QStringList header;
    for (int c = 1; c <= xlsx::Document::kMaxColumns; ++c) {
        const QString title = workbookCellText(doc.read(1, c));
        if (title.isEmpty())
            break;
        header << title;
    }
    if (header.isEmpty()) {
        result.status = WorkbookImport::NoHeader;
        return result;
    }
    if (header.size() == 1) {
        result.status = WorkbookImport::OneColumn;
        return result;
    }

    const int columns = header.size() - 1;  // the last column holds the remarks
    result.headers = header.mid(0, columns);
    for (int r = 2; r <= xlsx::Document::kMaxRows && !workbookCellText(doc.read(r, 1)).isEmpty(); ++r) {
        QStringList texts;
        texts.reserve(columns);
        for (int c = 1; c <= columns; ++c)
            texts << workbookCellText(doc.read(r, c));
        result.rows << texts;
        const QString remark = workbookCellText(doc.read(r, columns + 1)).trimmed();
        if (!remark.isEmpty())
            result.remarkLines += QStringLiteral("alias%1=%2\r\n").arg(r - 2).arg(remark).toUtf8();
    }
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

    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            QString text = rules.index(r, c).data(Qt::DisplayRole).toString().trimmed();
            if (c == ColCtl)
                text = text.section(QLatin1Char('/'), 0, 0).trimmed();
            if (!text.isEmpty())
                doc.write(r + 2, c + 1, text);
        }
    }
    const int remarkRows = qMin(rows, remarks.rowCount());
    for (int r = 0; r < remarkRows; ++r) {
        const QString remark = remarks.index(r, 0).data(Qt::DisplayRole).toString();
        if (!remark.trimmed().isEmpty())
            doc.write(r + 2, cols + 1, remark);
    }
    for (const xlsx::DataValidation &v : ruleValidations(rows))
        doc.addDataValidation(v);
}

QString withWorkbookSuffix(const QString &name)
{
    if (name.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        return name;
    return name + QStringLiteral(".xlsx");
}

}  // namespace vl
