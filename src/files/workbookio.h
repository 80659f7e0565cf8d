#pragma once

// How the rule table and its remarks map onto a workbook: one sheet, a header row, one
// sheet row per rule, the remark in the column after the rule columns, and data
// validations that hold a spreadsheet user to the texts the box accepts.

#include "files/xlsxdocument.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

class QAbstractItemModel;

namespace vl {

class RuleModel;

struct WorkbookImport {
    enum Status { Loaded, Unreadable, NoSheets, NoHeader, OneColumn };
    Status status = Unreadable;
    QString detail;             // why an unreadable file could not be read
    QStringList headers;        // titles of the table's columns (the remark column left out)
    QList<QStringList> rows;    // one list of texts per rule, as many texts as headers
    QByteArray remarkLines;     // "alias<row>=<remark>\r\n" for every non-empty remark
};

// Reads the first sheet of a workbook. Nothing is changed anywhere: the caller applies
// the result only when it is Loaded.
WorkbookImport readRuleWorkbook(const QString &path, const xlsx::ReadLimits &limits = xlsx::ReadLimits());

// Replaces the rule table by the rows of a loaded workbook (its columns and titles too).
void applyWorkbookRows(RuleModel &rules, const WorkbookImport &in);

// The text a cell's value shows: strings as they are, numbers in their shortest decimal
// form, logical values as TRUE/FALSE, an empty text for an empty cell.
QString workbookCellText(const QVariant &value);

// The nine validations for a table of `rows` rules, in the order they are added.
QList<xlsx::DataValidation> ruleValidations(int rows);

// Builds the workbook of a rule table and its remarks into `doc` (a new document).
void fillRuleWorkbook(xlsx::Document &doc, const QAbstractItemModel &rules, const QAbstractItemModel &remarks);

// `name` with ".xlsx" appended unless it already ends so (in any case).
QString withWorkbookSuffix(const QString &name);

}  // namespace vl
