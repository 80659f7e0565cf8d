#pragma once

// What the rule view and the remark view do to the models: the drag-fill series, the row
// commands of the "SN" column, copy and paste, emptying cells. Plain functions on the
// models, so they are tested and measured without a view.

#include <QList>
#include <QModelIndexList>
#include <QStringList>

#include <functional>

namespace vl {

class RuleModel;
class TextTableModel;

// The next DMX channel after the text above ("10" or "10-Spot" gives 11, 1024 and
// anything beyond the 1024 channels continue with 1), with its alias. A text without
// digits has no successor: the result is a null string.
QString nextDmxText(const QString &above, const QStringList &aliases);

// The next controller after the text above, in the form the status above calls for: the
// number alone for "CC", the number with its note name otherwise. 127 continues with 0.
QString nextControllerText(const QString &above, const QString &statusAbove, int cnum);

// The drag fill: rows fromRow + 1 … toRow, each derived from the row above it. A row
// whose columns 1 … 9 other than `column` are all empty gets all nine columns, any other
// row only `column`. Returns the number of cells written.
int fillDownSeries(RuleModel &rules, int fromRow, int toRow, int column, int cnum, const QStringList &aliases);

// Writes a text, or empties the cell when the text is empty.
bool putText(TextTableModel &model, int row, int column, const QString &text);

// One empty row at `row` in the rules and the remarks; a full table stays at 3072 rows
// and loses its last one, whose place the last row takes with "SN" 3072.
void insertEmptyRow(RuleModel &rules, TextTableModel *remarks, int row);

// Empties rows first … last (columns 1 … 9 and the remark) and moves every later row up
// over them; the rows freed at the end are left empty.
void deleteRowsMoveUp(RuleModel &rules, TextTableModel *remarks, int first, int last);

// Empties columns 1 … 9 and the remark of rows first … last; nothing moves.
void emptyRows(RuleModel &rules, TextTableModel *remarks, int first, int last);

// "SN" of every row becomes its position + 1.
void renumberSn(RuleModel &rules);

// The internal clipboard: one list per row of the selection, top to bottom, each holding
// the texts of that row's cells from the selection's leftmost column on. A cell inside
// that span that was not selected holds a null string and is skipped by a paste.
using CopyBuffer = QList<QStringList>;

CopyBuffer copyCells(const TextTableModel &model, QModelIndexList indexes);

// Writes the buffer with its first text at (row, column); column 0 and cells outside the
// table are skipped. Returns the number of cells written.
int pasteCells(TextTableModel &model, const CopyBuffer &buffer, int row, int column);

// The buffer as tab-separated lines, for other programs.
QString copyBufferText(const CopyBuffer &buffer);

// Text copied in another program (a spreadsheet) as a buffer: rows by line (LF or CR LF,
// a last line break ends the last row), cells by tab. A cell that starts with a double
// quote runs to the closing quote and may hold tabs and line breaks; "" inside stands for
// one quote. Every text is non-null, so an empty cell empties the cell it is pasted on.
CopyBuffer parseCopiedText(const QString &text);

// What `problem` says of the first cell a paste of `buffer` at (row, column) would write
// (row by row, left to right); empty when it says nothing of any. `problem` gets the
// target row, column and text and returns a message, or an empty string for a text that
// fits its column.
using CellProblem = std::function<QString(int row, int column, const QString &text)>;
QString firstPasteProblem(const TextTableModel &model, const CopyBuffer &buffer, int row, int column,
                          const CellProblem &problem);

}  // namespace vl
