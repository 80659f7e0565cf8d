#pragma once

// How the rule table and its remarks map onto a workbook: one sheet, a header row, one
// sheet row per rule, the remark in the column after the rule columns, and data
// validations that hold a spreadsheet user to the texts the box accepts.

#include "xlsxdocument.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

class QAbstractItemModel;

namespace vl {

class RuleModel;

// The most rules a workbook gives the editor; rows after them are not loaded. A workbook
// may hold more rules than the box (3072): the table shows them, and Set sends the first
// 3072.
constexpr int kMaxWorkbookRules = 16384;

struct WorkbookImport {
    enum Status { Loaded, Unreadable, NoSheets, NoHeader, OneColumn, BadHeader };
    Status status = Unreadable;
    // Unreadable: why the file could not be read. BadHeader: the message that says what
    // is wrong with the header row.
    QString detail;
    QStringList headers;      // the table's column titles, which the rows are in
    QList<QStringList> rows;  // one list of texts per rule, one text per rule column
    QByteArray remarkLines;   // "alias<row>=<remark>\r\n" for every non-empty remark

    // Where loading stopped before the sheet's end: the first sheet row whose SN is empty
    // (0 when there was none), and how many rows from there on hold something.
    int firstRowLeftOut = 0;
    int rowsLeftOut = 0;
    // The sheet holds values after the last row the editor takes (kMaxWorkbookRules rules).
    bool moreThanTaken = false;
};

// Reads the first sheet of a workbook. Its header row must hold the editor's own titles
// ("SN", "DMX", … "Enable" and "Remark"), in any order and any case, "Remark" (if there)
// last; columns are taken by their titles, a missing one gives empty texts. Nothing is
// changed anywhere: the caller applies the result only when it is Loaded.
WorkbookImport readRuleWorkbook(const QString &path, const xlsx::ReadLimits &limits = xlsx::ReadLimits());

// Replaces the rule table by the rows of a loaded workbook (under the table's own titles).
void applyWorkbookRows(RuleModel &rules, const WorkbookImport &in);

// What the user should know about a loaded workbook beyond its success: rows that were
// not loaded and why, and rules the box cannot take. Empty when there is nothing to say.
// `rulesPastTheBox` false leaves out the note on rules after row 3072 (for callers that
// build the image at once, whose Set check names them).
QStringList workbookImportNotes(const WorkbookImport &in, bool rulesPastTheBox = true);

// The text a cell's value shows: strings as they are, numbers in their shortest decimal
// form, logical values as TRUE/FALSE, an empty text for an empty cell.
QString workbookCellText(const QVariant &value);

// The nine validations for a table of `rows` rules, in the order they are added.
QList<xlsx::DataValidation> ruleValidations(int rows);

// Builds the workbook of a rule table and its remarks into `doc` (a new document). Every
// row gets its SN (its row number when the cell is empty), so the workbook opens again
// with every row; a text that is a plain whole number is written as a number.
void fillRuleWorkbook(xlsx::Document &doc, const QAbstractItemModel &rules, const QAbstractItemModel &remarks);

// What the user should know about a saved workbook beyond its success: texts that were cut.
QString workbookSaveNote(const xlsx::Document &doc);

// `name` with ".xlsx" appended unless it already ends so (in any case).
QString withWorkbookSuffix(const QString &name);

}  // namespace vl
