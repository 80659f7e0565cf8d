#include "edithistory.h"

#include "table/core/aliasstore.h"
#include "table/core/changedrows.h"
#include "table/core/rulemodel.h"

#include <QAction>
#include <QSignalBlocker>
#include <QUndoCommand>
#include <QUndoStack>

#include <climits>

namespace vl {

namespace {

// A packed row: the row, whether its first cell is locked against editing (1 byte), then
// each cell as its UTF-8 length and its bytes. Numbers are varints: 7 bits a byte, low
// bits first, the high bit set on every byte but the last.
void putCount(QByteArray &out, quint32 value)
{
    while (value >= 0x80) {
        out.append(char(value & 0x7F) | char(0x80));
        value >>= 7;
    }
    out.append(char(value));
}

quint32 takeCount(const char *&at)
{
    quint32 value = 0;
    for (int shift = 0;; shift += 7) {
        const quint8 byte = quint8(*at++);
        value |= quint32(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
}

}  // namespace

// The history's copy of one model: every cell's text, and for each row whether its first
// cell may be edited (rows read from the box have a fixed "SN").
class EditHistory::Shadow {
public:
    explicit Shadow(TextTableModel *model) : m_model(model), m_columns(model->columnCount()), m_changed(model)
    {
        m_rows = model->rowCount();
        m_cells.resize(m_rows * m_columns);
        m_locked.resize(m_rows);
        for (int r = 0; r < m_rows; ++r)
            readRow(r, &m_cells[r * m_columns], &m_locked[r]);
    }

    // Marks the rows the model reports as changed.
    ChangedRows *changes() { return &m_changed; }

    // Compares the changed rows with the copy and brings the copy up to date. With `record`
    // the rows that differ are packed into the change.
    EditHistory::TableChange take(bool record)
    {
        EditHistory::TableChange change;
        const int newRows = m_model->rowCount();
        change.rowsBefore = m_rows;
        change.rowsAfter = newRows;
        if (!m_changed.any() && newRows == m_rows)
            return change;
        const int span = qMax(m_rows, newRows);
        const int first = m_changed.any() ? m_changed.first() : 0;
        const int last = newRows != m_rows ? span - 1 : qMin(m_changed.last(), span - 1);
        m_cells.resize(span * m_columns);
        m_locked.resize(span);

        QVector<QString> fresh(m_columns);
        for (int r = first; r <= last; ++r) {
            char locked = 0;
            if (r < newRows)
                readRow(r, fresh.data(), &locked);
            else
                std::fill(fresh.begin(), fresh.end(), QString());
            QString *old = &m_cells[r * m_columns];
            bool same = locked == m_locked[r];
            for (int c = 0; same && c < m_columns; ++c)
                same = old[c] == fresh[c];
            if (same)
                continue;
            if (record) {
                if (r < m_rows)
                    pack(change.before, r, m_locked[r], old);
                if (r < newRows)
                    pack(change.after, r, locked, fresh.constData());
                if (change.lastRow < 0)
                    change.firstRow = r;
                change.lastRow = r;
            }
            for (int c = 0; c < m_columns; ++c)
                old[c] = fresh[c];
            m_locked[r] = locked;
        }
        m_rows = newRows;
        m_cells.resize(newRows * m_columns);
        m_locked.resize(newRows);
        change.before.squeeze();
        change.after.squeeze();
        m_changed.clear();
        return change;
    }

    // Gives the model `rowCount` rows and the packed rows their texts, in one change
    // notification for the cells, and the copy the same.
    void apply(const QByteArray &packed, int rowCount, int firstRow, int lastRow)
    {
        m_model->setRowCount(rowCount);
        m_rows = rowCount;
        m_cells.resize(rowCount * m_columns);
        m_locked.resize(rowCount);
        {
            const QSignalBlocker quiet(m_model);
            const char *at = packed.constData();
            const char *end = at + packed.size();
            while (at < end) {
                const int r = int(takeCount(at));
                const char locked = *at++;
                for (int c = 0; c < m_columns; ++c) {
                    const int length = int(takeCount(at));
                    const QString text = QString::fromUtf8(at, length);
                    at += length;
                    if (r < rowCount) {
                        writeCell(r, c, text);
                        m_cells[r * m_columns + c] = text;
                    }
                }
                if (r < rowCount) {
                    writeLock(r, locked);
                    m_locked[r] = locked;
                }
            }
        }
        const int last = qMin(lastRow, rowCount - 1);
        if (firstRow >= 0 && firstRow <= last)
            emit m_model->dataChanged(m_model->index(firstRow, 0), m_model->index(last, m_columns - 1));
        m_changed.clear();
    }

private:
    void readRow(int r, QString *texts, char *locked) const
    {
        for (int c = 0; c < m_columns; ++c)
            texts[c] = m_model->text(r, c);
        const QStandardItem *first = m_model->item(r, 0);
        *locked = first && !first->isEditable() ? 1 : 0;
    }

    void pack(QByteArray &out, int r, char locked, const QString *texts) const
    {
        putCount(out, quint32(r));
        out.append(locked);
        for (int c = 0; c < m_columns; ++c) {
            const QByteArray utf8 = texts[c].toUtf8();
            putCount(out, quint32(utf8.size()));
            out.append(utf8);
        }
    }

    void writeCell(int r, int c, const QString &text)
    {
        QStandardItem *it = m_model->item(r, c);
        if (text.isEmpty()) {
            if (it)
                it->setData(QVariant(), Qt::EditRole);
        } else if (it) {
            it->setData(text, Qt::EditRole);
        } else {
            m_model->setItem(r, c, new QStandardItem(text));
        }
    }

    void writeLock(int r, char locked)
    {
        QStandardItem *it = m_model->item(r, 0);
        if (locked) {
            if (!it) {
                it = new QStandardItem;
                m_model->setItem(r, 0, it);
            }
            it->setEditable(false);
        } else if (it && !it->isEditable()) {
            it->setEditable(true);
        }
    }

    TextTableModel *m_model;
    int m_columns;
    int m_rows = 0;
    QVector<QString> m_cells;  // row by row
    QVector<char> m_locked;
    ChangedRows m_changed;
};

// One step: the changed rows of both models and the aliases, before and after.
class EditHistory::StepCommand : public QUndoCommand {
public:
    StepCommand(EditHistory *history, const QString &name, TableChange rules, TableChange remarks, AliasChange aliases,
                QVector<RowShift> shifts)
        : QUndoCommand(name), m_history(history), m_rules(std::move(rules)), m_remarks(std::move(remarks)),
          m_aliases(std::move(aliases)), m_shifts(std::move(shifts))
    {
    }

    void undo() override { m_history->applyStep(m_rules, m_remarks, m_aliases, m_shifts, false); }

    void redo() override
    {
        // Pushed after the change was made: the first redo has nothing to do.
        if (m_done)
            m_history->applyStep(m_rules, m_remarks, m_aliases, m_shifts, true);
        m_done = true;
    }

private:
    EditHistory *m_history;
    TableChange m_rules;
    TableChange m_remarks;
    AliasChange m_aliases;
    QVector<RowShift> m_shifts;
    bool m_done = false;
};

EditHistory::EditHistory(TextTableModel *rules, TextTableModel *remarks, AliasStore *aliases, QObject *parent)
    : QObject(parent), m_stack(new QUndoStack(this)), m_rules(std::make_unique<Shadow>(rules)),
      m_remarks(std::make_unique<Shadow>(remarks)), m_aliases(aliases)
{
    connect(m_stack, &QUndoStack::cleanChanged, this, [this](bool clean) { emit modifiedChanged(!clean); });
    // What an undo or redo writes is taken into the copy as it is written.
    for (Shadow *shadow : {m_rules.get(), m_remarks.get()})
        connect(shadow->changes(), &ChangedRows::marked, this, [this] {
            if (!m_applying)
                scheduleFlush();
        });
    if (m_aliases)
        connect(m_aliases, &AliasStore::aliasesChanged, this, &EditHistory::aliasesChanged);
}

EditHistory::~EditHistory()
{
    // The stack goes first, and without a word: its listeners may be half gone already.
    m_stack->blockSignals(true);
    delete m_stack;
    m_stack = nullptr;
}

void EditHistory::aliasesChanged(const QStringList &before, const QStringList &after)
{
    if (m_applying || (m_automatic > 0 && !m_stepOpen))
        return;
    if (!m_pendingAliases.changed) {
        m_pendingAliases.changed = true;
        m_pendingAliases.before = before;
    }
    m_pendingAliases.after = after;
    scheduleFlush();
}

void EditHistory::scheduleFlush()
{
    if (m_stepOpen || m_automatic > 0 || m_flushQueued)
        return;
    m_flushQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_flushQueued = false;
            flush();
        },
        Qt::QueuedConnection);
}

void EditHistory::flush()
{
    if (!m_stepOpen && m_automatic == 0)
        commit(QStringLiteral("Edit"));
}

void EditHistory::beginStep(const QString &name)
{
    if (m_stepOpen)
        return;
    flush();  // what changed before belongs to a step of its own
    m_stepOpen = true;
    m_stepName = name;
}

void EditHistory::endStep()
{
    if (!m_stepOpen)
        return;
    m_stepOpen = false;
    commit(m_stepName);
}

void EditHistory::commit(const QString &name)
{
    TableChange rules = m_rules->take(true);
    TableChange remarks = m_remarks->take(true);
    AliasChange aliases = std::move(m_pendingAliases);
    m_pendingAliases = AliasChange();
    QVector<RowShift> shifts = std::move(m_pendingShifts);
    m_pendingShifts.clear();
    if (aliases.changed && aliases.before == aliases.after)
        aliases = AliasChange();
    if (rules.isEmpty() && remarks.isEmpty() && !aliases.changed && shifts.isEmpty())
        return;
    m_stack->push(
        new StepCommand(this, name, std::move(rules), std::move(remarks), std::move(aliases), std::move(shifts)));
}

void EditHistory::absorb()
{
    m_rules->take(false);
    m_remarks->take(false);
}

void EditHistory::undo()
{
    if (m_stepOpen)
        return;  // an action is under way (a Read waiting for its table)
    flush();
    m_stack->undo();
}

void EditHistory::redo()
{
    if (m_stepOpen)
        return;
    flush();
    m_stack->redo();
}

void EditHistory::bindActions(QAction *undo, QAction *redo)
{
    const auto show = [this, undo, redo] {
        undo->setEnabled(m_stack->canUndo());
        undo->setText(m_stack->canUndo() ? QStringLiteral("&Undo %1").arg(m_stack->undoText())
                                         : QStringLiteral("&Undo"));
        redo->setEnabled(m_stack->canRedo());
        redo->setText(m_stack->canRedo() ? QStringLiteral("&Redo %1").arg(m_stack->redoText())
                                         : QStringLiteral("&Redo"));
    };
    // Every push, undo, redo and clear moves the index.
    connect(m_stack, &QUndoStack::indexChanged, undo, show);
    show();
    connect(undo, &QAction::triggered, this, &EditHistory::undo);
    connect(redo, &QAction::triggered, this, &EditHistory::redo);
}

bool EditHistory::isModified()
{
    flush();
    return !m_stack->isClean();
}

void EditHistory::markClean()
{
    flush();
    m_stack->setClean();
}

void EditHistory::noteRowShift(int first, int last, bool inserted)
{
    if (m_stepOpen && !m_applying && first >= 0 && last >= first)
        m_pendingShifts.append({first, last, inserted});
}

void EditHistory::applyStep(const TableChange &rules, const TableChange &remarks, const AliasChange &aliases,
                            const QVector<RowShift> &shifts, bool redo)
{
    m_applying = true;
    for (auto [shadow, change] : {std::pair{m_rules.get(), &rules}, std::pair{m_remarks.get(), &remarks}}) {
        if (change->isEmpty())
            continue;
        shadow->apply(redo ? change->after : change->before, redo ? change->rowsAfter : change->rowsBefore,
                      change->firstRow, change->lastRow);
    }
    if (aliases.changed && m_aliases)
        m_aliases->setAliases(redo ? aliases.after : aliases.before);
    if (m_rowsShifted) {
        for (int i = 0; i < shifts.size(); ++i) {
            const RowShift &s = shifts.at(redo ? i : shifts.size() - 1 - i);
            m_rowsShifted(s.first, s.last, redo ? s.inserted : !s.inserted);
        }
    }
    m_applying = false;
    if (m_stepApplied)
        m_stepApplied(aliases.changed);
}

void EditHistory::beginAutomatic()
{
    flush();  // the user's changes so far are a step of their own
    ++m_automatic;
}

void EditHistory::endAutomatic()
{
    if (--m_automatic == 0 && !m_stepOpen)
        absorb();
}

}  // namespace vl
