#include "aliaskeeper.h"

#include "aliases.h"
#include "aliasstore.h"
#include "editsteps.h"

#include "common/core/scheduler.h"

namespace vl {

AliasKeeper::AliasKeeper(RuleModel &rules, QObject *parent)
    : QObject(parent), m_rules(rules), m_scheduler(scheduler()), m_store(new AliasStore(this)),
      m_timer(m_scheduler.createTimer(this))
{
    m_timer->setInterval(kLabelIntervalMs);
}

bool AliasKeeper::load()
{
    const AliasFileResult read = readAliasFile(aliasFilePath());
    switch (read.status) {
    case AliasFileResult::CannotCreate: emit problem(QStringLiteral("Cannot create file for writing.")); return false;
    case AliasFileResult::CannotRead: emit problem(QStringLiteral("Cannot open file for reading.")); return false;
    case AliasFileResult::Loaded: break;
    }
    m_store->setAliases(read.aliases);
    wakeLabels();
    return true;
}

bool AliasKeeper::save()
{
    if (writeAliasFile(aliasFilePath(), m_store->aliases()))
        return true;
    emit problem(QStringLiteral("Cannot open file for writing."));
    return false;
}

void AliasKeeper::relabelCells()
{
    // The labels follow the aliases; they are no step of their own.
    const EditSteps::Automatic automatic(m_steps);
    relabelDmxCells(m_rules, m_store->aliases());
}

void AliasKeeper::wakeLabels() { m_timer->start(kLabelIntervalMs); }

void AliasKeeper::beginRead()
{
    m_timer->stop();
    m_store->clear();
}

void AliasKeeper::finishRead()
{
    save();
    wakeLabels();
    relabelCells();
}

void AliasKeeper::keepAfterImport()
{
    wakeLabels();
    m_scheduler.singleShot(kLabelIntervalMs, this, [this] {
        save();
        relabelCells();
    });
}

void AliasKeeper::restore(const QStringList &aliases)
{
    m_store->setAliases(aliases);
    wakeLabels();
}

}  // namespace vl
