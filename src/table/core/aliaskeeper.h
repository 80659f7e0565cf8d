#pragma once

// The DMX channel aliases as the editor keeps them: the list (AliasStore), its file
// "./Aliases.txt", the alias forms of the DMX cells, and the label timer on whose ticks the
// window labels open DMX editors. A read from the box, which names no channel, empties the
// list and writes the empty list once the table has arrived. Nothing here needs a widget.

#include <QObject>
#include <QStringList>

namespace vl {

class AliasStore;
class EditSteps;
class RuleModel;
class Scheduler;
class Timer;

class AliasKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr int kLabelIntervalMs = 100;

    // Labels the DMX cells of `rules`, which must outlive the keeper. Its timers come from
    // scheduler() as it is now; the label timer is not started yet.
    explicit AliasKeeper(RuleModel &rules, QObject *parent = nullptr);

    AliasStore *store() const { return m_store; }
    // Ticks every 100 ms while open DMX editors may need their labels.
    Timer *labelTimer() const { return m_timer; }
    // The edit history the relabelled cells are kept out of; may be null.
    void setSteps(EditSteps *steps) { m_steps = steps; }

    // Reads the alias file (created empty when missing) into the list and starts the label
    // timer. False, after problem(), when the file cannot be read or created.
    bool load();
    // Writes the list to the alias file; false, after problem(), when it cannot.
    bool save();
    // Brings every DMX cell into its alias form under the list; no step of its own.
    void relabelCells();
    // Starts the label timer (again).
    void wakeLabels();

    // Before a read from the box: the label timer stops and the list becomes 1024 empty
    // aliases. After it: the list is saved, the timer runs again and the cells are
    // relabelled.
    void beginRead();
    void finishRead();
    // A read that failed gives its list back; the timer runs again.
    void restore(const QStringList &aliases);
    // After a workbook import, which keeps the aliases: the timer runs again, and on its
    // next tick the list is written again and shown on the new rows.
    void keepAfterImport();

signals:
    // What went wrong with the alias file: "Cannot create file for writing.", "Cannot open
    // file for reading." or "Cannot open file for writing.".
    void problem(const QString &text);

private:
    RuleModel &m_rules;
    Scheduler &m_scheduler;
    AliasStore *m_store;
    Timer *m_timer;
    EditSteps *m_steps = nullptr;
};

}  // namespace vl
