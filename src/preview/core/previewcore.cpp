#include "previewcore.h"

namespace vl {

PreviewCore::PreviewCore(GlobalData &registry, Scheduler &timers, QObject *parent)
    : QObject(parent), m_registry(registry), m_stage(registry), m_dialog(registry), m_engine(registry, timers)
{
    m_stage.setDetailsModel(&m_details);
    m_engine.setSnapshots(&m_snapshots);
    m_engine.setDetailsModel(&m_details);
    m_engine.setMessageLog(&m_log);
}

void PreviewCore::setRuleModel(const TextTableModel *rules)
{
    if (!rules)
        return;
    m_rules = rules;
    m_snapshots.setRuleModel(rules);
    m_stage.setRuleModel(rules);
    m_engine.setRuleModel(rules);
}

void PreviewCore::setRemarkModel(const TextTableModel *remarks)
{
    if (remarks)
        m_remarks = remarks;
}

PreviewCore::AddCheck PreviewCore::canAddFixture() const
{
    if (!m_rules)
        return AddCheck::NoTable;
    if (m_rules->rowCount() == 0)
        return AddCheck::NoRows;
    if (!m_remarks || m_remarks->rowCount() < m_rules->rowCount())
        return AddCheck::RemarksShort;
    return AddCheck::Ok;
}

QList<QStringList> PreviewCore::offeredChannelRows() const
{
    if (!m_rules || !m_remarks)
        return {};
    return FixtureDialogModel::channelRows(*m_rules, *m_remarks);
}

bool PreviewCore::showFixtureDetails(const QString &name)
{
    if (!m_registry.hasFixture(name))
        return false;
    m_details.showFixtureName(name);
    m_details.setChannels(m_registry.fixture(name).selectedChannels);
    return true;
}

bool PreviewCore::selectFixture(const QString &name)
{
    m_engine.setCurrentFixture(name);
    return showFixtureDetails(name);
}

bool PreviewCore::deleteFixture(const QString &name)
{
    m_stage.removeFixture(name);
    if (!m_engine.hasCurrentFixture() || m_engine.currentFixture() != name)
        return false;
    m_engine.clearCurrentFixture();
    return true;
}

void PreviewCore::newProject(const QString &name)
{
    m_stage.resetForNewProject();
    m_engine.clearCurrentFixture();
    m_session.newProject(name);
}

ProjectRead PreviewCore::openProject(const QString &path)
{
    if (path.isEmpty())
        m_session.openCancelled();
    ProjectRead read = readProjectFile(path);
    if (!read.ok)
        return read;
    m_engine.clearCurrentFixture();
    applyProject(read.fixtures, m_stage);
    m_session.opened(path);
    return read;
}

ProjectWrite PreviewCore::saveProject(const QString &path, const QHash<QString, QString> &itemPictures,
                                      bool withChannelPixmaps)
{
    return writeProjectFile(path, projectJson(m_registry, itemPictures, withChannelPixmaps));
}

}  // namespace vl
