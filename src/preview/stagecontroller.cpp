#include "stagecontroller.h"

#include "addfixturedialog.h"
#include "common/dialogs.h"
#include "fixturedetailsdialog.h"
#include "table/rulemodel.h"

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

StageController::StageController(QGraphicsScene *scene, AddFixtureDialog *fixtureDialog, FixtureDetailsDialog *details,
                                 QGraphicsProxyWidget *detailsProxy, QWidget *window, GlobalData &registry)
    : QObject(window), m_scene(scene), m_dialog(fixtureDialog), m_details(details), m_detailsProxy(detailsProxy),
      m_window(window), m_registry(registry)
{
}

void StageController::setRuleModels(const TextTableModel *rules, const TextTableModel *remarks)
{
    m_rules = rules;
    m_remarks = remarks;
}

QList<QStringList> StageController::channelRows() const
{
    return FixtureDialogModel::channelRows(*m_rules, *m_remarks);
}

int StageController::recordIndex(const QString &name) const
{
    for (int i = 0; i < m_records.size(); ++i)
        if (m_records.at(i).name == name)
            return i;
    return -1;
}

FixtureItem *StageController::itemOf(const QString &name) const
{
    for (FixtureItem *item : m_items)
        if (item->name() == name)
            return item;
    return nullptr;
}

FixtureItem *StageController::addFixtureItem(const FixtureRecord &record, bool showName, const QString &picturePath,
                                             const QPointF &pos)
{
    auto *item = new FixtureItem(record.name, this);
    item->setShowName(showName);
    item->setPicturePath(picturePath);
    item->setChannelBindings(record.bindings);
    item->setPos(pos);
    m_scene->addItem(item);
    m_records.append(record);
    m_items.append(item);
    emit fixturesChanged();
    return item;
}

void StageController::addFixture()
{
    if (!m_rules || !m_dialog)
        return;
    if (m_rules->rowCount() == 0) {
        warning(m_window, QStringLiteral("Warning"), QStringLiteral("Table model has no rows!"));
        return;
    }
    if (!m_remarks || m_remarks->rowCount() < m_rules->rowCount())
        return;

    m_dialog->resetWithChannelRows(channelRows());
    // The dialog refuses a name the registry holds, so an accepted name is free.
    if (dialogs().runDialog(m_dialog) != QDialog::Accepted)
        return;
    const FixtureRecord record{m_dialog->fixtureName(), m_dialog->selectedChannels(), m_dialog->channelBindings()};
    FixtureItem *item = addFixtureItem(record, m_dialog->isDisplayNameChecked(), m_dialog->picturePath(),
                                       QPointF(0, 0));
    // Every item counts, pictures and the details panel included (hidden items collide
    // with nothing).
    while (!item->collidingItems().isEmpty() && item->x() < kPlacementLimit)
        item->moveBy(kPlacementStep, 0);
}

bool StageController::editFixture(const QString &name)
{
    const int index = recordIndex(name);
    if (index < 0 || !m_dialog || !m_rules || !m_remarks)
        return false;
    const FixtureRecord record = m_records.at(index);

    m_dialog->setChannelRows(channelRows());
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

    // The dialog stored the fixture under its new name, levels back at 0. A renamed
    // fixture leaves its old name.
    const LightFixture fixture = m_dialog->definition();
    m_registry.removeFixture(record.name);
    m_registry.addFixture(fixture);

    const int at = recordIndex(record.name);
    if (at >= 0) {
        FixtureRecord &r = m_records[at];
        r.name = fixture.fixtureName;
        r.channels = m_dialog->selectedChannels();
        r.bindings = m_dialog->channelBindings();
    }
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
    emit fixturesChanged();
    showFixtureDetails(fixture.fixtureName);
    return true;
}

bool StageController::showFixtureDetails(const QString &name)
{
    if (!m_details || !m_detailsProxy || !m_registry.hasFixture(name))
        return false;
    m_details->showFixtureName(name);
    m_details->setChannels(m_registry.fixture(name).selectedChannels);
    m_detailsProxy->show();
    emit detailsShown(name);
    return true;
}

void StageController::fixtureClicked(FixtureItem *item)
{
    m_current = item;
    showFixtureDetails(item->name());
}

void StageController::fixtureDoubleClicked(FixtureItem *item)
{
    if (recordIndex(item->name()) >= 0)
        editFixture(item->name());
}

void StageController::deleteFixture(FixtureItem *item)
{
    const QString name = item->name();
    m_items.removeOne(item);
    m_registry.removeFixture(name);
    const int index = recordIndex(name);
    if (index >= 0) {
        for (const SelectedChannel &c : m_records.at(index).channels)
            if (!c.sn.isEmpty())
                m_registry.releaseSN(c.sn);
        m_records.removeAt(index);
    }
    // The panel goes when it shows the fixture that went, whether or not that was the
    // one clicked last.
    const bool shown = m_details && m_details->displayedFixtureName() == name;
    if (item == m_current || shown) {
        if (item == m_current)
            m_current = nullptr;
        if (m_detailsProxy && m_detailsProxy->isVisible()) {
            m_detailsProxy->hide();
            if (m_details)
                m_details->clearDetails();
            emit detailsHidden();
        }
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
    if (!deleted.isEmpty()) {
        emit fixturesChanged();
        information(m_window, QStringLiteral("Lights Deleted"),
                    QStringLiteral("The following lights have been deleted: ") + deleted.join(QStringLiteral(", ")));
    }
    m_scene->update();
}

void StageController::removeAllFixtureItems()
{
    for (FixtureItem *item : qAsConst(m_items)) {
        m_scene->removeItem(item);
        delete item;
    }
    m_items.clear();
    m_records.clear();
    m_current = nullptr;
    emit fixturesChanged();
}

}  // namespace vl
