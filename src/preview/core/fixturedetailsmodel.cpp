#include "fixturedetailsmodel.h"

namespace vl {

FixtureDetailsModel::FixtureDetailsModel(QObject *parent)
    : QAbstractTableModel(parent), m_label(QStringLiteral("Fixture Name: <name>"))
{
}

void FixtureDetailsModel::showFixtureName(const QString &name)
{
    m_label = QStringLiteral("Fixture Name: ") + name;
    emit labelTextChanged(m_label);
}

QString FixtureDetailsModel::displayedFixtureName() const { return m_label.split(QStringLiteral(": ")).constLast(); }

QString FixtureDetailsModel::dmxText(int dmx)
{
    return dmx <= 512 ? QString::number(dmx) : QStringLiteral("512+%1").arg(dmx - 512);
}

void FixtureDetailsModel::setChannels(const QList<FixtureChannel> &channels)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(channels.size());
    for (const FixtureChannel &c : channels) {
        Row row;
        row.cells[RemarkColumn] = c.remark;
        row.cells[DmxColumn] = dmxText(c.dmxCH);
        row.cells[ValueColumn] = QString::number(c.value);
        row.sn = c.sn;
        m_rows.append(row);
    }
    endResetModel();
}

void FixtureDetailsModel::clearDetails()
{
    m_label.clear();
    emit labelTextChanged(m_label);
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QVector<int> FixtureDetailsModel::rowsShowingDmx(int dmx) const
{
    QVector<int> rows;
    for (int r = 0; r < m_rows.size(); ++r) {
        bool ok = false;
        if (m_rows.at(r).cells[DmxColumn].toInt(&ok) == dmx && ok)
            rows.append(r);
    }
    return rows;
}

QVector<int> FixtureDetailsModel::rowsOfSn(int sn) const
{
    QVector<int> rows;
    for (int r = 0; r < m_rows.size(); ++r)
        if (m_rows.at(r).sn == sn)
            rows.append(r);
    return rows;
}

QString FixtureDetailsModel::cellText(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= ColumnCount)
        return QString();
    return m_rows.at(row).cells[column];
}

void FixtureDetailsModel::setCellText(int row, int column, const QString &text)
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= ColumnCount)
        return;
    QString &cell = m_rows[row].cells[column];
    if (cell == text)
        return;
    cell = text;
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
}

int FixtureDetailsModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rows.size(); }

int FixtureDetailsModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant FixtureDetailsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= ColumnCount)
        return QVariant();
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return row.cells[index.column()];
    case Qt::TextAlignmentRole: return int(Qt::AlignCenter);
    case kSnRole:
        if (index.column() == DmxColumn)
            return QString::number(row.sn);
        return QVariant();
    default: return QVariant();
    }
}

QVariant FixtureDetailsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case RemarkColumn: return QStringLiteral("Remark");
    case DmxColumn: return QStringLiteral("DMX Channel");
    case ValueColumn: return QStringLiteral("Value");
    default: return QVariant();
    }
}

Qt::ItemFlags FixtureDetailsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

}  // namespace vl
