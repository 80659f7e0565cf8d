#pragma once

// Operations on the whole rule table and the remark model. They need no widget.

#include <QByteArray>
#include <QStringList>

namespace vl {

class RuleModel;
class RemarkModel;

// The 100 ms pass: "CC" rows lose a note name ("60 / C4" → "60"), other rows with a
// short controller text gain one ("60" → "60 / C4"). Only cells that change are written,
// so a settled table sees no change notification. Returns the number of cells written.
int normalizeControllerTexts(RuleModel &rules, int cnum);
// The same pass over rows firstRow … lastRow only.
int normalizeControllerTexts(RuleModel &rules, int cnum, int firstRow, int lastRow);

// Rewrites every controller text that carries a note name (five characters or more) with
// the name under naming cnum. Plain numbers stay. Returns the number of cells written.
int renameNoteTexts(RuleModel &rules, int cnum);

// Empties columns 1 … 9 of every rule and the remarks of those rows; rows and "SN" stay.
void clearAllRules(RuleModel &rules, RemarkModel &remarks);

// A new table: 3072 rules numbered 1 … 3072 and otherwise empty, as a box holds them after
// a factory reset, and 3072 empty remarks.
void newRuleTable(RuleModel &rules, RemarkModel &remarks);

// Empties remarks 0 … count - 1 (rows the model does not have are skipped).
void resetRemarks(RemarkModel &remarks, int count);

// Sets the remarks from lines "alias<row>=<text>" (UTF-8, LF or CR LF). A later line with
// the same key wins. When at least one key was found every remark is rewritten (at least
// 3072: rows the model lacks are created; all of them when the model has more) and true
// is returned; otherwise nothing changes.
bool applyRemarkLines(RemarkModel &remarks, const QByteArray &text);

// Inserts one row of texts read from the box at `row`, or at the end of a table that has
// fewer rows; its "SN" cell is not editable. A full row first gives the table its ten
// columns and their labels. An empty list inserts nothing.
void insertUploadedRow(RuleModel &rules, int row, const QStringList &texts);

}  // namespace vl
