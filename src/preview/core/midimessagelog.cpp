#include "midimessagelog.h"

#include "midisender.h"

namespace vl {

MidiSender::~MidiSender() = default;

MidiMessageLog::MidiMessageLog(QObject *parent) : QAbstractTableModel(parent) {}

void MidiMessageLog::logMidiMessage(const QString &event, int channel, const QString &numberText,
                                    const QString &valueText)
{
    const int row = m_rows.size();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append({row + 1, event, channel, numberText, valueText});
    endInsertRows();
}

void MidiMessageLog::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int MidiMessageLog::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rows.size(); }

int MidiMessageLog::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant MidiMessageLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    const MidiLogRow &r = m_rows.at(index.row());
    switch (index.column()) {
    case SnColumn: return QString::number(r.sn);
    case EventColumn: return r.event;
    case ChannelColumn: return QString::number(r.channel);
    case NumberColumn: return r.number;
    case ValueColumn: return r.value;
    default: return QVariant();
    }
}

QVariant MidiMessageLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    static const char *const titles[] = {"SN", "Event", "Channel", "No.", "Value"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

}  // namespace vl
