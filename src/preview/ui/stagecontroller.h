#pragma once

// The fixtures on the preview's stage: adding one through the fixture dialog, editing one
// (double-click), deleting the selected items, and keeping one stage item per fixture
// record. The records, the registry, the current fixture and the details table are
// PreviewCore's; the preview window owns the scene, the dialogs and the details panel,
// hands them in, and calls the operations here from its buttons and keys.

#include "preview/core/previewcore.h"
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

class StageController : public QObject, public StageHost {
    Q_OBJECT
public:
    // `dialog` shows core.fixtureDialog(), `details` core.details(); `details` lies on the
    // stage in `detailsProxy`. `window` parents the message boxes.
    StageController(PreviewCore &core, QGraphicsScene *scene, AddFixtureDialog *dialog, FixtureDetailsDialog *details,
                    QGraphicsProxyWidget *detailsProxy, QWidget *window);

    // "Add Fixture": the dialog offers the rule table's channels; Ok puts the new fixture
    // on the stage at the first place, going right from the top-left corner in 20-pixel
    // steps, where it covers no other item.
    void addFixture();
    // Runs the fixture dialog on a fixture (as a double-click does); false when the stage
    // has no record of that name.
    bool editFixture(const QString &name);
    // "Remove" and the Delete key: every selected fixture, after the user confirms it, and
    // every selected picture. The details panel always stays.
    void removeSelected();
    // Fills the details panel for a fixture of the registry and shows it; an unknown name
    // changes nothing. Returns whether the panel was filled.
    bool showFixtureDetails(const QString &name);

    // A stage item for a fixture whose record the stage already has (Add and project
    // loading), at `pos`.
    FixtureItem *addFixtureItem(const QString &name, const QMap<QString, int> &bindings, bool showName,
                                const QString &picturePath, const QPointF &pos);
    // Takes every fixture item off the stage (pictures stay); records and registry are
    // left to the caller.
    void removeAllFixtureItems();

    // The stage items, in the order of the records.
    const QList<FixtureItem *> &fixtureItems() const { return m_items; }
    // The item of the fixture clicked last, or null.
    FixtureItem *currentFixture() const;
    // The first stage item showing that fixture, or null.
    FixtureItem *itemOf(const QString &name) const;

    // StageHost
    const GlobalData &registry() const override { return m_core.registry(); }
    void fixtureClicked(FixtureItem *item) override;
    void fixtureDoubleClicked(FixtureItem *item) override;

signals:
    // The details panel was filled and shown for this fixture (the window moves it next to
    // its button and shows the button's "open" picture).
    void detailsShown(const QString &name);
    // The details panel was hidden because the fixture it showed went away.
    void detailsHidden();

private:
    void deleteFixture(FixtureItem *item);
    void repaintFixturesOn(int dmx);

    PreviewCore &m_core;
    QGraphicsScene *m_scene;
    AddFixtureDialog *m_dialog;
    FixtureDetailsDialog *m_details;
    QGraphicsProxyWidget *m_detailsProxy;
    QWidget *m_window;
    QList<FixtureItem *> m_items;
};

}  // namespace vl
