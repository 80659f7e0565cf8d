#pragma once

// The edit history of the rule table, the remarks and the DMX channel aliases: Undo and
// Redo, and whether the table differs from what was last opened, read or saved.
//
// The history records at the models. It keeps its own copy of every cell's text and, when
// a user action is over, compares the rows the models reported as changed with that copy;
// the rows that differ, before and after, become one step on a QUndoStack. Nothing has to
// announce its changes, so nothing can change the table behind the history's back:
//  - an action opened with beginStep() (or a Step guard) is one step however many cells
//    it touches, until endStep(); a Read stays open across the event loop until its
//    table has arrived;
//  - changes outside any step (a cell editor committing, a key in a view) become one step
//    when control returns to the event loop, named "Edit";
//  - changes under an Automatic guard (the controller pass, relabelled DMX cells) are
//    taken into the copy without a step of their own.
// A step stores only the rows that changed, packed as UTF-8, so a step that changes every
// rule of a full table costs about a quarter of a megabyte.

#include "table/core/editsteps.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class QAction;
class QUndoStack;

namespace vl {

class AliasStore;
class TextTableModel;

class EditHistory : public QObject, public EditSteps {
    Q_OBJECT
public:
    // `aliases` may be null. The models and the store must outlive the history.
    EditHistory(TextTableModel *rules, TextTableModel *remarks, AliasStore *aliases, QObject *parent = nullptr);
    ~EditHistory() override;

    QUndoStack *stack() const { return m_stack; }

    // The steps (see EditSteps, whose Step and Automatic guards work on the history).
    void beginStep(const QString &name) override;
    void endStep() override;
    bool stepOpen() const override { return m_stepOpen; }
    // Makes a step of the changes made outside any step so far (normally done when control
    // returns to the event loop).
    void flush();

    // Undo and Redo of the user: what is pending becomes a step first.
    void undo();
    void redo();
    // Keeps `undo` and `redo` enabled and named after the step each would take back or
    // again ("&Undo Read"), and runs undo() and redo() when they are triggered.
    void bindActions(QAction *undo, QAction *redo);

    // Whether the table differs from its last clean state.
    bool isModified();
    // The table as it is now was opened, read or saved.
    void markClean() override;

    // Runs after every undo and redo, saying whether the aliases got another list (the
    // window writes them to their file and labels the DMX cells again).
    void setStepApplied(std::function<void(bool aliasesChanged)> applied) { m_stepApplied = std::move(applied); }

    // Rows `first` … `last` were inserted (or deleted, the rows below moving up) by the open
    // step. What follows rules by their row (the light preview's fixtures) was told so as
    // it happened; an undo or redo of the step tells it again through `shifted`, inserted
    // rows undone as deleted ones and the other way round, the last shift first.
    void noteRowShift(int first, int last, bool inserted);
    void setRowsShifted(std::function<void(int first, int last, bool inserted)> shifted)
    {
        m_rowsShifted = std::move(shifted);
    }

    // The recorded change of one model; public for the step class.
    struct TableChange {
        int rowsBefore = 0;
        int rowsAfter = 0;
        int firstRow = 0;  // the first and last row recorded (-1 when none)
        int lastRow = -1;
        QByteArray before;  // the changed rows, packed
        QByteArray after;
        bool isEmpty() const { return rowsBefore == rowsAfter && before.isEmpty() && after.isEmpty(); }
        qsizetype bytes() const { return before.capacity() + after.capacity(); }
    };
    struct AliasChange {
        bool changed = false;
        QStringList before;
        QStringList after;
    };
    struct RowShift {
        int first = 0;
        int last = 0;
        bool inserted = false;
    };

signals:
    // The table became different from its clean state, or the same again.
    void modifiedChanged(bool modified);

protected:
    void beginAutomatic() override;
    void endAutomatic() override;

private:
    class Shadow;
    class StepCommand;
    friend class StepCommand;

    void aliasesChanged(const QStringList &before, const QStringList &after);
    void scheduleFlush();
    void commit(const QString &name);
    void absorb();
    void applyStep(const TableChange &rules, const TableChange &remarks, const AliasChange &aliases,
                   const QVector<RowShift> &shifts, bool redo);

    QUndoStack *m_stack = nullptr;
    std::unique_ptr<Shadow> m_rules;
    std::unique_ptr<Shadow> m_remarks;
    AliasStore *m_aliases = nullptr;
    std::function<void(bool)> m_stepApplied;
    std::function<void(int, int, bool)> m_rowsShifted;

    AliasChange m_pendingAliases;
    QVector<RowShift> m_pendingShifts;
    QString m_stepName;
    bool m_stepOpen = false;
    bool m_flushQueued = false;
    bool m_applying = false;
    int m_automatic = 0;
};

}  // namespace vl
