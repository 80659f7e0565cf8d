#include "tablefiles.h"

#include "device/core/boxconversation.h"
#include "device/core/protocol.h"
#include "device/core/tableimage.h"
#include "files/core/workbookio.h"
#include "files/core/workbookproblems.h"
#include "files/core/xlsxdocument.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"

namespace vl::cli {

namespace {

QString hex16(quint16 v) { return QStringLiteral("0x%1").arg(v, 4, 16, QLatin1Char('0')); }

}  // namespace

bool loadRuleWorkbook(const QString &path, RuleModel &rules, QString *error, QStringList *notes)
{
    const WorkbookImport in = readRuleWorkbook(path);
    if (in.status != WorkbookImport::Loaded) {
        *error = oneLine(workbookImportProblem(in), 240);
        return false;
    }
    if (notes)
        *notes = workbookImportNotes(in, false);
    applyWorkbookRows(rules, in);
    return true;
}

bool imageForSet(const RuleModel &rules, const QString &refusal, QByteArray *image, QString *error, QString *warning)
{
    const SetCheck check = checkForSet(rules);
    switch (check.status) {
    case SetCheck::TooFewRows:
        *error = QStringLiteral("The table has %1 rows; the device holds %2 rules and needs every row. %3")
                     .arg(check.rows)
                     .arg(kRuleRows)
                     .arg(refusal);
        return false;
    case SetCheck::InvalidRule: *error = invalidRuleText(check.problem) + QLatin1Char(' ') + refusal; return false;
    case SetCheck::Ready: break;
    }
    if (warning) {
        warning->clear();
        if (check.rowsLeftOut > 0)
            *warning = rulesLeftOutText(check) + QStringLiteral(" Rules 1 to %1 were taken.").arg(kRuleRows);
    }
    *image = check.image;
    return true;
}

bool recordsOfImage(const QByteArray &bytes, bool ignoreChecksum, QByteArrayList *groups, QString *error)
{
    if (bytes.size() > kImageSize) {
        *error = QStringLiteral("not a table image: it is longer than an image's %1 bytes").arg(kImageSize);
        return false;
    }
    if (bytes.size() < kImageSize) {
        *error =
            QStringLiteral("not a table image: it has %1 bytes, an image has %2").arg(bytes.size()).arg(kImageSize);
        return false;
    }
    if (!bytes.startsWith(msg::imageHeader)) {
        *error = QStringLiteral("not a table image: it does not begin with \"download request\"");
        return false;
    }
    const int end = kImageHeaderSize + kRecordAreaSize;
    if (bytes.mid(end, msg::imageEnd.size()) != msg::imageEnd) {
        *error = QStringLiteral("not a table image: \"end of data\" is missing after the records");
        return false;
    }
    const QByteArray records = bytes.mid(kImageHeaderSize, kRecordAreaSize);
    const quint16 stored = quint16(quint8(bytes.at(kChecksumOffset)) | (quint8(bytes.at(kChecksumOffset + 1)) << 8));
    const quint16 computed = recordChecksum(records);
    if (stored != computed && !ignoreChecksum) {
        *error = QStringLiteral("the image's checksum %1 does not match its records (%2); the file is damaged "
                                "(--ignore-checksum decodes it anyway)")
                     .arg(hex16(stored), hex16(computed));
        return false;
    }
    // The same collector the editor's Read runs over what the box sends.
    UploadCollector collector;
    const QList<QByteArrayList> uploads = collector.feed(bytes);
    if (uploads.isEmpty() || !isCompleteUpload(uploads.first())) {
        *error = QStringLiteral("not a table image: its records do not make a whole table");
        return false;
    }
    *groups = uploads.first();
    return true;
}

bool applyUploadedRecords(RuleModel &rules, const QByteArrayList &groups, int cnum)
{
    const QList<QStringList> rows = rowsOfUpload(groups, cnum);
    if (rows.isEmpty())
        return false;
    rules.removeRows(0, rules.rowCount());
    rules.restoreLabels();
    for (int row = 0; row < rows.size(); ++row)
        insertUploadedRow(rules, row, rows.at(row));
    // The editor's 100 ms pass settles the controller texts the decoder leaves unnamed
    // (rows whose status code is none of the three).
    normalizeControllerTexts(rules, cnum);
    return true;
}

bool saveRuleWorkbook(const RuleModel &rules, const QString &path, QString *error)
{
    RemarkModel remarks;
    xlsx::Document doc;
    fillRuleWorkbook(doc, rules, remarks);
    if (doc.saveAs(path, SpecialTarget::Stream))
        return true;
    *error = QStringLiteral("cannot write the workbook: %1").arg(oneLine(doc.errorString(), 200));
    return false;
}

QByteArray tableAsText(const RuleModel &rules)
{
    const int cols = rules.columnCount();
    QStringList titles;
    for (int c = 0; c < cols; ++c)
        titles << rules.headerData(c, Qt::Horizontal).toString();
    QByteArray text = titles.join(QLatin1Char('\t')).toUtf8() + '\n';
    for (int r = 0; r < rules.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < cols; ++c)
            cells << rules.text(r, c);
        text += cells.join(QLatin1Char('\t')).toUtf8() + '\n';
    }
    return text;
}

}  // namespace vl::cli
