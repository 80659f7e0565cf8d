#include "aliasstore.h"

#include "aliases.h"
#include "rulecolumns.h"

namespace vl {

AliasStore::AliasStore(QObject *parent) : QObject(parent), m_aliases(emptyList()) {}

QString AliasStore::alias(int channel) const
{
    return channel >= 1 && channel <= size() ? m_aliases.at(channel - 1) : QString();
}

void AliasStore::setAliases(const QStringList &aliases)
{
    QStringList stored = aliases;
    for (QString &alias : stored)
        alias = sanitizedAlias(alias);
    if (stored == m_aliases)
        return;
    const QStringList before = m_aliases;
    m_aliases = stored;
    emit aliasesChanged(before, m_aliases);
}

void AliasStore::clear() { setAliases(emptyList()); }

QStringList AliasStore::emptyList()
{
    QStringList list;
    list.reserve(kDmxChannels);
    for (int i = 0; i < kDmxChannels; ++i)
        list.append(QString());
    return list;
}

}  // namespace vl
