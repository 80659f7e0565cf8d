#pragma once

// The rule table and the remark model. Both are plain QStandardItemModels holding texts in
// the edit role; every change of a cell goes through these models, so views, the window's
// change forwarding and any later edit history see each change in one place.

#include <QStandardItemModel>

namespace vl {

class TextTableModel : public QStandardItemModel {
    Q_OBJECT
public:
    using QStandardItemModel::QStandardItemModel;

    // The cell's text; empty for a cell without item or without a valid value.
    QString text(int row, int column) const;
    bool isEmptyCell(int row, int column) const { return text(row, column).isEmpty(); }
    // Writes `text` in the edit role unless the cell already holds exactly that text.
    // Returns whether the cell changed. Cells outside the table are ignored.
    bool setText(int row, int column, const QString &text);
    // Gives the cell an invalid value (the empty state) unless it is empty already.
    bool clearCell(int row, int column);
};

class RuleModel : public TextTableModel {
    Q_OBJECT
public:
    explicit RuleModel(QObject *parent = nullptr);

    // A rule row is empty when columns 1 … 9 are all empty; "SN" does not count.
    bool isRuleRowEmpty(int row) const;
    // Sets the ten header labels again (after a reset took the columns away).
    void restoreLabels();

    // Inserts one row holding `texts` (one per column from "SN" on; empty texts leave their
    // cells empty) at `row`, or at the end of a table that has fewer rows, in one insertion.
    // With `snLocked` its "SN" cell cannot be edited, as in rows read from the box.
    void insertRuleRow(int row, const QStringList &texts, bool snLocked = true);
    // Whether the "SN" cell of `row` cannot be edited.
    bool isSnLocked(int row) const;
};

class RemarkModel : public TextTableModel {
    Q_OBJECT
public:
    // Starts with one empty remark for each rule the box holds.
    explicit RemarkModel(QObject *parent = nullptr);
};

}  // namespace vl
