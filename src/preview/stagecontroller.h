#pragma once

// The fixtures on the preview's stage: adding one through the fixture dialog, editing one
// (double-click), deleting the selected items, and the bookkeeping that ties stage items to
// the registry. The preview window owns the scene, the dialogs and the details panel and
// hands them in; its buttons and keys call the operations here.

#include "fixtureregistry.h"
#include "stageitems.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointF>
#include <QString>

class QGraphicsProxyWidget;
class QGraphicsScene;
class QWidget;

namespace vl {

class AddFixtureDialog;
class FixtureDetailsDialog;
class TextTableModel;

// A fixture as the stage keeps it: its name, its channels and its colour roles.
struct FixtureRecord {
    QString name;
    QList<SelectedChannel> channels;
    QMap<QString, int> bindings;
};

class StageController : public QObject, public StageHost {
    Q_OBJECT
public:
    // `window` parents the message boxes; the details panel is `details` shown on the stage
    // through `detailsProxy`.
    StageController(QGraphicsScene *scene, AddFixtureDialog *fixtureDialog, FixtureDetailsDialog *details,
                    QGraphicsProxyWidget *detailsProxy, QWidget *window, GlobalData &registry = GlobalData::instance());

    // The rule table and its remarks, which offer the channels (not owned; null until set).
    void setRuleModels(const TextTableModel *rules, const TextTableModel *remarks);

    // "Add Fixture": the dialog offers the rule table's channels; Ok puts the new fixture
    // on the stage at the first place, going right from the top-left corner in 20-pixel
    // steps, where it covers no other item.
    void addFixture();
    // Runs the fixture dialog on a fixture (as a double-click does); false when the stage
    // has no fixture of that name.
    bool editFixture(const QString &name);
    // "Remove" and the Delete key: every selected fixture, after the user confirms it, and
    // every selected picture. The details panel always stays.
    void removeSelected();
    // Opens the details panel on a fixture of the registry; an unknown name changes nothing.
    // Returns whether the panel was filled.
    bool showFixtureDetails(const QString &name);

    // Puts a fixture on the stage at `pos` and keeps its record (Add and project loading).
    FixtureItem *addFixtureItem(const FixtureRecord &record, bool showName, const QString &picturePath,
                                const QPointF &pos);
    // Takes every fixture off the stage (pictures stay); the registry is left to the caller.
    void removeAllFixtureItems();

    const QList<FixtureRecord> &fixtureRecords() const { return m_records; }
    QList<FixtureRecord> &fixtureRecords() { return m_records; }
    const QList<FixtureItem *> &fixtureItems() const { return m_items; }
    // The fixture clicked last, or null.
    FixtureItem *currentFixture() const { return m_current; }
    void setCurrentFixture(FixtureItem *item) { m_current = item; }
    // The first stage item showing that fixture, or null.
    FixtureItem *itemOf(const QString &name) const;

    // StageHost
    const GlobalData &registry() const override { return m_registry; }
    void fixtureClicked(FixtureItem *item) override;
    void fixtureDoubleClicked(FixtureItem *item) override;

signals:
    // The details panel was filled and shown for this fixture (the window moves it next to
    // its button and shows the button's "open" picture).
    void detailsShown(const QString &name);
    // The details panel was hidden because the fixture it showed went away.
    void detailsHidden();
    // Fixtures were added, edited or removed.
    void fixturesChanged();

private:
    QList<QStringList> channelRows() const;
    int recordIndex(const QString &name) const;
    void deleteFixture(FixtureItem *item);

    QGraphicsScene *m_scene;
    AddFixtureDialog *m_dialog;
    FixtureDetailsDialog *m_details;
    QGraphicsProxyWidget *m_detailsProxy;
    QWidget *m_window;
    GlobalData &m_registry;
    const TextTableModel *m_rules = nullptr;
    const TextTableModel *m_remarks = nullptr;

    QList<FixtureRecord> m_records;
    QList<FixtureItem *> m_items;
    FixtureItem *m_current = nullptr;
};

}  // namespace vl
