#pragma once

// The stage's records of its fixtures (one per fixture added or loaded, in creation order)
// and how the fixtures follow the rule table: a fixture channel belongs to a rule row by
// its SN, so it takes the row's DMX channel and remark, and keeps to its row when rows are
// inserted or deleted. The stage items themselves are the window's; it keeps them in the
// same order as the records.

#include "fixtureregistry.h"
#include "table/core/rulemodel.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>

namespace vl {

class FixtureDetailsModel;

struct FixtureRecord {
    QString name;
    QList<SelectedChannel> channels;
    QMap<QString, int> bindings;  // "Brightness", "Red", "Green", "Blue" → DMX channel

    bool operator==(const FixtureRecord &o) const
    {
        return name == o.name && channels == o.channels && bindings == o.bindings;
    }
};

class FixtureStage : public QObject {
    Q_OBJECT
public:
    explicit FixtureStage(GlobalData &registry, QObject *parent = nullptr);

    GlobalData &registry() const { return m_registry; }
    void setRuleModel(const TextTableModel *rules);  // null is ignored
    void setDetailsModel(FixtureDetailsModel *details);

    const QList<FixtureRecord> &records() const { return m_records; }
    // First record of that name, -1 when none.
    int indexOf(const QString &name) const;
    bool hasRecord(const QString &name) const { return indexOf(name) >= 0; }
    void addRecord(const FixtureRecord &record);
    void clearRecords();
    // New Project: no records, no fixtures, no used SNs (the SN bindings stay).
    void resetForNewProject();

    // A fixture deleted from the stage: it leaves the registry, the SNs of its record are
    // released and the record goes.
    void removeFixture(const QString &name);
    // An edit accepted by the fixture dialog: the fixture (as the dialog built it) is
    // stored, replaces the entry under the old name, and the record takes the new name
    // and channels.
    void applyEdit(const QString &oldName, const LightFixture &fixture, const QList<SelectedChannel> &channels);

    // ---- following the rule table ----
    // A rule cell changed; only the DMX column matters: the channels of that row take
    // the new DMX channel (the text's leading number, 0 without one) and the details
    // panel shows the text.
    void ruleCellChanged(int row, int column, const QString &text);
    // A remark changed: the channels of that row take it, in the registry, the records
    // and the details panel.
    void ruleRemarkChanged(int row, const QString &text);
    // A row was inserted at SN sn: channels from that SN on move down by one.
    void ruleRowInserted(int sn);
    // Rows first … last (0-based) were deleted and the rows below moved up: the channels
    // of those rows leave their fixtures (their SNs are released), later channels move
    // up. Returns true when the rule table has no rows left ("Table model has no rows!").
    bool ruleRowsDeleted(int first, int last);
    // Every channel takes the DMX channel of its row as the table holds it now (0 when the
    // row or its DMX cell is missing).
    void refreshFixtureDmxChannels();

private:
    GlobalData &m_registry;
    QPointer<const TextTableModel> m_rules;
    QPointer<FixtureDetailsModel> m_details;
    QList<FixtureRecord> m_records;
};

// The DMX channel a DMX cell's text names: its leading number ("5-Spot" gives 5), 0 when
// it has none.
int dmxChannelOfText(const QString &text);

}  // namespace vl
