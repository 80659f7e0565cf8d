#pragma once

// The DMX channel alias list the whole editor shares: the alias dialog edits it, the rule
// view continues DMX series with it, the window labels DMX cells and editors from it and
// keeps it in "./Aliases.txt". Entry i names DMX channel i + 1; an empty text means the
// channel has no alias. The list may be shorter or longer than the 1024 channels: a loaded
// file gives as many entries as it has lines.

#include <QObject>
#include <QStringList>

namespace vl {

class AliasStore : public QObject {
    Q_OBJECT
public:
    // Starts as 1024 empty aliases.
    explicit AliasStore(QObject *parent = nullptr);

    const QStringList &aliases() const { return m_aliases; }
    int size() const { return int(m_aliases.size()); }
    // The alias of DMX channel `channel` (1-based); empty beyond the list.
    QString alias(int channel) const;

    // Replaces the list; every change passes here. Each entry is stored as an alias may be
    // stored (one line, at most kMaxAliasLength characters; see sanitizedAlias). Nothing
    // happens, and nothing is signalled, when the list stays as it was.
    void setAliases(const QStringList &aliases);
    // 1024 empty aliases (a table read from the box names no channel).
    void clear();

    // The list the store starts with: kDmxChannels empty texts.
    static QStringList emptyList();

signals:
    // After every change, with the whole list before and after it. Giving `before` back to
    // setAliases() undoes the change; `after` redoes it.
    void aliasesChanged(const QStringList &before, const QStringList &after);

private:
    QStringList m_aliases;
};

}  // namespace vl
