#pragma once

// The pass that keeps the "Ctl" texts in their form under the current middle-C naming
// (normalizeControllerTexts() in ruleops.h), as the window runs it on its 100 ms tick: it
// looks only at the rows changed since the last pass, so a settled table costs nothing,
// and its own rewrites are no step of the edit history. Nothing here needs a widget.

#include <QObject>

namespace vl {

class ChangedRows;
class EditSteps;
class RuleModel;

class ControllerPass : public QObject {
    Q_OBJECT
public:
    // Works on `rules`, which must outlive the pass; the first pass looks at every row.
    explicit ControllerPass(RuleModel &rules, QObject *parent = nullptr);

    // The edit history the rewrites are kept out of; may be null.
    void setSteps(EditSteps *steps) { m_steps = steps; }

    // Middle-C naming: 1, 2 or 3 names note 60 "C3", "C4" or "C5".
    int naming() const { return m_cnum; }
    // A new naming; the next pass looks at every row again.
    void setNaming(int cnum);
    // Rewrites every controller text that carries a note name under the current naming.
    void renameNotes();

    // Runs the pass over the rows changed since the last one, or over every row.
    void run();
    void runOverAll();

private:
    RuleModel &m_rules;
    ChangedRows *m_changed;
    EditSteps *m_steps = nullptr;
    int m_cnum = 2;
};

}  // namespace vl
