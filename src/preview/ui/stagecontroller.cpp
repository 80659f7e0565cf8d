#include "stagecontroller.h"

#include "addfixturedialog.h"
#include "common/ui/dialogs.h"
#include "fixturedetailsdialog.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>

namespace vl {

namespace {

// New fixtures step right this far until they cover no other item.
constexpr qreal kPlacementStep = 20.0;
// Far enough for any stage; the stepping ends there whatever lies on the stage.
constexpr qreal kPlacementLimit = 1e6;

const QString kRoleNames[] = {QStringLiteral("Brightness"), QStringLiteral("Red"), QStringLiteral("Green"),
                              QStringLiteral("Blue")};

}  // namespace

StageController::StageController(PreviewCore &core, QGraphicsScene *scene, AddFixtureDialog *dialog,
                                 FixtureDetailsDialog *details, QGraphicsProxyWidget *detailsProxy, QWidget *window)
    : QObject(window), m_core(core), m_scene(scene), m_dialog(dialog), m_details(details), m_detailsProxy(detailsProxy),
      m_window(window)
{
    connect(&m_core.engine(), &PreviewEngine::levelApplied, this, [this](int dmx, int) { repaintFixturesOn(dmx); });
    connect(&m_core.engine(), &PreviewEngine::fixtureBindingChanged, this,
            [this](const QString &fixture, int dmx, int value) {
                if (FixtureItem *item = itemOf(fixture))
                    item->setChannelBinding(QString::number(dmx), value);
            });
}

FixtureItem *StageController::itemOf(const QString &name) const
{
    for (FixtureItem *item : m_items)
        if (item->name() == name)
            return item;
    return nullptr;
}

FixtureItem *StageController::currentFixture() const
{
    return m_core.engine().hasCurrentFixture() ? itemOf(m_core.engine().currentFixture()) : nullptr;
}

void StageController::repaintFixturesOn(int dmx)
{
    const GlobalData &registry = m_core.registry();
    for (FixtureItem *item : qAsConst(m_items)) {
        const LightFixture f = registry.fixture(item->name());
        for (const FixtureChannel &c : f.selectedChannels) {
            if (c.dmxCH == dmx) {
                item->refreshColour();
                break;
            }
        }
    }
}

FixtureItem *StageController::addFixtureItem(const QString &name, const QMap<QString, int> &bindings, bool showName,
                                             const QString &picturePath, const QPointF &pos)
{
    auto *item = new FixtureItem(name, this);
    item->setShowName(showName);
    item->setPicturePath(picturePath);
    item->setChannelBindings(bindings);
    item->setPos(pos);
    m_scene->addItem(item);
    m_items.append(item);
    return item;
}

void StageController::addFixture()
{
    if (!m_dialog)
        return;
    switch (m_core.canAddFixture()) {
    case PreviewCore::AddCheck::NoTable:
    case PreviewCore::AddCheck::RemarksShort: return;
    case PreviewCore::AddCheck::NoRows:
        warning(m_window, PreviewCore::noRowsTitle(), PreviewCore::noRowsText());
        return;
    case PreviewCore::AddCheck::Ok: break;
    }

    m_dialog->resetWithChannelRows(m_core.offeredChannelRows());
    // The dialog refuses a name the registry holds, so an accepted name is free.
    if (dialogs().runDialog(m_dialog) != QDialog::Accepted)
        return;
    const FixtureRecord record{m_dialog->fixtureName(), m_dialog->selectedChannels(), m_dialog->channelBindings()};
    m_core.stage().addRecord(record);
    FixtureItem *item = addFixtureItem(record.name, record.bindings, m_dialog->isDisplayNameChecked(),
                                       m_dialog->picturePath(), QPointF(0, 0));
    // Every item counts, pictures and the details panel included (hidden items collide
    // with nothing).
    while (!item->collidingItems().isEmpty() && item->x() < kPlacementLimit)
        item->moveBy(kPlacementStep, 0);
}

bool StageController::editFixture(const QString &name)
{
    const int index = m_core.stage().indexOf(name);
    if (index < 0 || !m_dialog)
        return false;
    const FixtureRecord record = m_core.stage().records().at(index);

    m_dialog->setChannelRows(m_core.offeredChannelRows());
    for (FixtureItem *item : qAsConst(m_items))
        if (item->name() == record.name)
            m_dialog->setPicture(item->picturePath());
    m_dialog->setOriginalChannels(record.channels);
    m_dialog->setFixtureName(record.name);
    m_dialog->setSelectedChannels(record.channels);
    for (FixtureItem *item : qAsConst(m_items))
        if (item->name() == record.name)
            m_dialog->setDisplayNameChecked(item->showName());

    if (dialogs().runDialog(m_dialog) != QDialog::Accepted)
        return true;

    // The fixture as the dialog stored it (levels back at 0); a renamed fixture leaves its
    // old name.
    const LightFixture fixture = m_dialog->definition();
    m_core.stage().applyEdit(record.name, fixture, m_dialog->selectedChannels());
    if (FixtureItem *item = itemOf(record.name)) {
        item->setName(fixture.fixtureName);
        item->setShowName(m_dialog->isDisplayNameChecked());
        item->setPicturePath(m_dialog->picturePath());
        // The colour roles follow the new definition; the engine's entries stay.
        QMap<QString, int> bindings = item->channelBindings();
        for (const QString &role : kRoleNames)
            bindings.remove(role);
        const QMap<QString, int> roles = m_dialog->channelBindings();
        for (auto it = roles.cbegin(); it != roles.cend(); ++it)
            bindings.insert(it.key(), it.value());
        item->setChannelBindings(bindings);
    }
    showFixtureDetails(fixture.fixtureName);
    return true;
}

bool StageController::showFixtureDetails(const QString &name)
{
    if (!m_detailsProxy || !m_core.showFixtureDetails(name))
        return false;
    m_detailsProxy->show();
    emit detailsShown(name);
    return true;
}

void StageController::fixtureClicked(FixtureItem *item)
{
    if (m_core.selectFixture(item->name()) && m_detailsProxy) {
        m_detailsProxy->show();
        emit detailsShown(item->name());
    }
}

void StageController::fixtureDoubleClicked(FixtureItem *item)
{
    if (m_core.stage().hasRecord(item->name()))
        editFixture(item->name());
}

void StageController::deleteFixture(FixtureItem *item)
{
    const QString name = item->name();
    // The panel goes when it shows the fixture that went, whether or not that was the
    // one clicked last.
    const bool shown = m_core.details().displayedFixtureName() == name;
    const bool wasCurrent = m_core.deleteFixture(name);
    m_items.removeOne(item);
    if ((wasCurrent || shown) && m_detailsProxy && m_detailsProxy->isVisible()) {
        m_detailsProxy->hide();
        m_core.details().clearDetails();
        emit detailsHidden();
    }
    m_scene->removeItem(item);
    delete item;
}

void StageController::removeSelected()
{
    // What is selected is read once, before anything goes. Fixtures are asked about in the
    // order they came onto the stage; pictures go without a question. Anything else (the
    // details panel, its button) stays.
    const QList<QGraphicsItem *> selected = m_scene->selectedItems();
    QList<FixtureItem *> fixtures;
    for (FixtureItem *item : qAsConst(m_items))
        if (selected.contains(item))
            fixtures.append(item);
    QList<QGraphicsItem *> pictures;
    for (QGraphicsItem *item : selected)
        if (item->type() == MyResizablePixmapItem::Type)
            pictures.append(item);

    QStringList deleted;
    for (FixtureItem *item : qAsConst(fixtures)) {
        const QString name = item->name();
        const auto answer = question(m_window, QStringLiteral("Confirm Deletion"),
                                     QStringLiteral("Are you sure you want to delete the light fixture: ") + name
                                         + QStringLiteral("?"),
                                     QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes || !m_items.contains(item))
            continue;
        deleteFixture(item);
        deleted.append(name);
    }
    for (QGraphicsItem *item : qAsConst(pictures)) {
        m_scene->removeItem(item);
        delete item;
    }
    if (!deleted.isEmpty())
        information(m_window, QStringLiteral("Lights Deleted"),
                    QStringLiteral("The following lights have been deleted: ") + deleted.join(QStringLiteral(", ")));
    m_scene->update();
}

void StageController::removeAllFixtureItems()
{
    for (FixtureItem *item : qAsConst(m_items)) {
        m_scene->removeItem(item);
        delete item;
    }
    m_items.clear();
}

}  // namespace vl
