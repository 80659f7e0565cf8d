#pragma once

// The preview's copies of the rule table, rebuilt on every preview reload, and what the
// preview decides from them: which controller faders show and can be moved, which keys of
// the two keyboards are marked, and the DMX channel an event lands on.
//
// One pass over the table builds the copies together with an index of the enabled rules,
// so that every decision costs O(1) per fader, key or event instead of a walk over the
// table.

#include "table/core/rulemodel.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>

namespace vl {

// A rule row as the preview copied it: columns 0 … 4 and 9. An empty text is a cell that
// was empty (or absent) in the table.
struct RuleSnapshot {
    int row = -1;    // the rule row it was copied from
    QString sn;      // column 0
    QString dmx;     // column 1
    QString sta;     // column 2
    QString ctl;     // column 3
    QString ch;      // column 4
    QString enable;  // column 9

    // The text under the key "column<N>" (N = 0 … 4, 9), empty for any other key.
    QString value(int column) const;
};

// A fader's state after a reload.
struct FaderState {
    bool visible = false;
    bool enabled = false;
    bool operator==(const FaderState &o) const { return visible == o.visible && enabled == o.enabled; }
};

constexpr int kMidiNumbers = 128;
using FaderStates = std::array<FaderState, kMidiNumbers>;
using KeyMarks = std::array<bool, kMidiNumbers>;

// The rule an event drives: its DMX channel and SN, as the DMX lookup finds them.
struct DmxTarget {
    bool found = false;  // a rule matched the event
    int dmx = -1;        // the leading digits of its DMX text; 0 when it has none
    int sn = 0;          // its SN text read as a number
    int row = -1;        // its rule row index
};

// Reads a whole decimal number: optional sign, then digits only, within the int range.
bool readWholeNumber(QStringView text, int *value);
// The part of a controller text before " / " read as a whole number.
bool readControllerNumber(const QString &text, int *value);
// The leading decimal digits of a DMX text ("5-Spot" gives 5); false without any.
bool readLeadingNumber(const QString &text, int *value);

class RuleSnapshots : public QObject {
    Q_OBJECT
public:
    explicit RuleSnapshots(QObject *parent = nullptr);

    // The editor's rule table; a null model is ignored. The snapshots stay empty until
    // rebuild().
    void setRuleModel(const TextTableModel *model);
    const TextTableModel *ruleModel() const { return m_model; }

    // rebuildRuleSnapshots: copies every rule row that has a non-empty cell among
    // columns 0 … 4 and 9 (ruleRows) and among columns 2, 3, 4 and 9 (ccRuleRows), in row
    // order, and indexes the enabled rules.
    void rebuild();

    const QVector<RuleSnapshot> &ruleRows() const { return m_ruleRows; }
    // Snapshots restricted to columns 2, 3, 4 and 9 (the other fields stay empty).
    const QVector<RuleSnapshot> &ccRuleRows() const { return m_ccRuleRows; }

    // True when some row of the table has Status, Controller and Channel, its Status is
    // `status`, its Controller text is `number` and its Enable reads "ON"; the channel
    // is not compared. Always answers for the table as it is now: edits made since the
    // last rebuild are taken into account.
    bool isRuleEnabled(const QString &status, const QString &number, const QString &channel) const;

    // refreshCcFaders: a fader shows when a CC rule names its controller; the last such
    // rule decides whether it can be moved: only when it is on `midiChannel` (1 … 16) or
    // "ALL" and enabled.
    FaderStates faderStates(int midiChannel) const;

    // markNoteKeys / markAtKeys: the keys an enabled "Note" (resp. "AT") rule on the
    // channel or "ALL" maps. A later disabled row never unmarks a key.
    KeyMarks noteKeyMarks(int midiChannel) const { return keyMarks(QStringLiteral("note"), midiChannel); }
    KeyMarks atKeyMarks(int midiChannel) const { return keyMarks(QStringLiteral("at"), midiChannel); }

    // The rule an event drives: the first copied rule with exactly this Status, this
    // whole controller number, a Channel that is the event's channel or "ALL", and Enable
    // "ON".
    DmxTarget findDmxTarget(const QString &status, int number, int midiChannel) const;

signals:
    void rebuilt();

private:
    KeyMarks keyMarks(const QString &lowerStatus, int midiChannel) const;
    void invalidateIndex();
    void rebuildEnabledIndex() const;

    QPointer<const TextTableModel> m_model;
    QVector<RuleSnapshot> m_ruleRows;
    QVector<RuleSnapshot> m_ccRuleRows;
    // Positions in m_ruleRows of the rows of each Status and whole controller number.
    QHash<QPair<QString, int>, QVector<int>> m_byStatusNumber;

    // (Status, Controller) texts of the enabled rules of the table; rebuilt on demand
    // after the table changed.
    mutable QSet<QPair<QString, QString>> m_enabled;
    mutable bool m_enabledValid = false;
};

// The key labels rec_combin sets under naming num (1 … 3): the name of every C, empty for
// every other note. An empty list for any other num (nothing changes).
QStringList pitchCLabels(int num);

}  // namespace vl
