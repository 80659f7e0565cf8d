#pragma once

// The light preview without its widgets, in one object: the window makes one, hands it the
// editor's two models and its MIDI output, and delegates to it. It owns the rule
// snapshots, the details table, the MIDI message log, the stage's fixture records, the
// fixture dialog's state, the engine and the project session, and wires them together;
// the fixture registry is the process's GlobalData unless another is given.
//
// What the editor tells the preview maps onto it like this:
//   rebuildRuleSnapshots        reload()  (then ask faderStates(), noteKeyMarks(), atKeyMarks())
//   refreshFixtureDmxChannels   stage().refreshFixtureDmxChannels()
//   refreshDetailsPanel         showFixtureDetails(details().displayedFixtureName())
//   ruleCellChanged, ruleRemarkChanged, ruleRowInserted, ruleRowsDeleted   the same on stage()
//   coefficient                 engine().setPreviewCoefficient()
//   rec_combin(num)             pitchCLabels(num)

#include "common/core/scheduler.h"
#include "fixturedetailsmodel.h"
#include "fixturedialogmodel.h"
#include "fixtureproject.h"
#include "fixtureregistry.h"
#include "fixturestage.h"
#include "midimessagelog.h"
#include "previewengine.h"
#include "rulesnapshots.h"

#include <QObject>
#include <QPointer>

namespace vl {

class PreviewCore : public QObject {
    Q_OBJECT
public:
    explicit PreviewCore(GlobalData &registry = GlobalData::instance(), Scheduler &timers = scheduler(),
                         QObject *parent = nullptr);

    // The editor's models; null ones are ignored.
    void setRuleModel(const TextTableModel *rules);
    void setRemarkModel(const TextTableModel *remarks);
    const TextTableModel *ruleModel() const { return m_rules; }
    const TextTableModel *remarkModel() const { return m_remarks; }
    void setMidiSender(MidiSender *sender) { m_engine.setMidiSender(sender); }

    GlobalData &registry() const { return m_registry; }
    RuleSnapshots &snapshots() { return m_snapshots; }
    FixtureDetailsModel &details() { return m_details; }
    MidiMessageLog &messageLog() { return m_log; }
    FixtureStage &stage() { return m_stage; }
    FixtureDialogModel &fixtureDialog() { return m_dialog; }
    PreviewEngine &engine() { return m_engine; }
    ProjectSession &session() { return m_session; }

    // ---- the panels ----
    // The "MIDI Channel" choice (1 … 16): the engine plays on it and the faders and key
    // marks are decided for it.
    void setMidiChannel(int channel) { m_engine.setMidiChannel(channel); }
    int midiChannel() const { return m_engine.midiChannel(); }
    // Rebuilds the rule snapshots (the first reload step).
    void reload() { m_snapshots.rebuild(); }
    FaderStates faderStates() const { return m_snapshots.faderStates(midiChannel()); }
    KeyMarks noteKeyMarks() const { return m_snapshots.noteKeyMarks(midiChannel()); }
    KeyMarks atKeyMarks() const { return m_snapshots.atKeyMarks(midiChannel()); }

    // ---- fixtures ----
    enum class AddCheck {
        NoTable,       // nothing happens
        NoRows,        // warning "Warning" / "Table model has no rows!"
        RemarksShort,  // nothing happens (the remarks are not all there)
        Ok,
    };
    AddCheck canAddFixture() const;
    // The channel rows the fixture dialog offers (rows with a DMX cell).
    QList<QStringList> offeredChannelRows() const;
    // Fills the details table for the fixture: false (and nothing changes) when the
    // registry has no such fixture.
    bool showFixtureDetails(const QString &name);
    // A fixture clicked on the stage: it becomes the one the keys light, and its details
    // are shown. False when the registry does not hold it.
    bool selectFixture(const QString &name);
    // A fixture deleted on the stage: registry, records and SNs; it stops being the current
    // fixture. True when it was the current fixture (hide and clear the details panel when
    // it is visible).
    bool deleteFixture(const QString &name);

    // ---- projects ----
    // New Project named `name`: no fixtures, no current fixture, no project file yet.
    void newProject(const QString &name);
    // Open Project with the path the file dialog gave (empty: cancelled). On success the
    // registry and the records hold the file's fixtures (the window makes their items,
    // the k-th at projectItemPosition(k)) and there is no current fixture; on failure
    // nothing changed but a cancelled dialog forgetting the project file.
    ProjectRead openProject(const QString &path);
    // The document to save: itemPictures as projectJson() takes them.
    ProjectWrite saveProject(const QString &path, const QHash<QString, QString> &itemPictures, bool withChannelPixmaps);

    static QString noRowsTitle() { return QStringLiteral("Warning"); }
    static QString noRowsText() { return QStringLiteral("Table model has no rows!"); }
    static QString duplicateNameTitle() { return QStringLiteral("Duplicate Name"); }
    static QString duplicateNameText()
    {
        return QStringLiteral("The fixture name already exists. Please enter a new name.");
    }
    static QString emptyNameTitle() { return QStringLiteral("Error"); }
    static QString emptyNameText() { return QStringLiteral("Please enter a fixture name."); }

private:
    GlobalData &m_registry;
    QPointer<const TextTableModel> m_rules;
    QPointer<const TextTableModel> m_remarks;
    RuleSnapshots m_snapshots;
    FixtureDetailsModel m_details;
    MidiMessageLog m_log;
    FixtureStage m_stage;
    FixtureDialogModel m_dialog;
    PreviewEngine m_engine;
    ProjectSession m_session;
};

}  // namespace vl
