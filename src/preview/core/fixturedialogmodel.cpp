#include "fixturedialogmodel.h"

#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <limits>

namespace vl {

namespace {

const QString &partSeparator()
{
    static const QString sep = QStringLiteral(", ");
    return sep;
}

constexpr ColorRole kRefillOrder[] = {ColorRole::Brightness, ColorRole::Red, ColorRole::Green, ColorRole::Blue};

}  // namespace

QString colorRoleName(ColorRole role)
{
    switch (role) {
    case ColorRole::Brightness: return QStringLiteral("Brightness");
    case ColorRole::Red: return QStringLiteral("Red");
    case ColorRole::Green: return QStringLiteral("Green");
    case ColorRole::Blue: return QStringLiteral("Blue");
    }
    return QString();
}

FixtureDialogModel::FixtureDialogModel(GlobalData &registry, QObject *parent) : QObject(parent), m_registry(registry) {}

// ---- text forms ----

QString FixtureDialogModel::channelEntry(const QString &sn, int dmx, const QString &remark)
{
    return QStringLiteral("SN: %1, DMX CH: %2, Remark: %3").arg(sn, QString::number(dmx), remark);
}

QString FixtureDialogModel::offeredEntry(const QStringList &fields)
{
    if (fields.size() == 3)
        return channelEntry(fields.at(0), fields.at(1).toInt(), fields.at(2));
    if (fields.size() == 2)
        return QStringLiteral("Property: %1, DMX CH: %2").arg(fields.at(0), QString::number(fields.at(1).toInt()));
    return fields.join(partSeparator());
}

QString FixtureDialogModel::roleItem(int dmx) { return QStringLiteral("DMX CH: %1").arg(dmx); }

int FixtureDialogModel::roleItemDmx(const QString &item)
{
    static const QRegularExpression re(QStringLiteral("DMX CH: (\\d+)"));
    const QRegularExpressionMatch m = re.match(item);
    if (!m.hasMatch())
        return -1;
    bool ok = false;
    const int n = m.captured(1).toInt(&ok);
    return ok ? n : -1;
}

QStringList FixtureDialogModel::entryParts(const QString &entry)
{
    QStringList parts;
    int from = 0;
    while (parts.size() < 2) {
        const int at = entry.indexOf(partSeparator(), from);
        if (at < 0)
            break;
        parts.append(entry.mid(from, at - from));
        from = at + partSeparator().size();
    }
    parts.append(entry.mid(from));
    return parts;
}

QString FixtureDialogModel::partValue(const QString &part)
{
    const int at = part.indexOf(QStringLiteral(": "));
    return at < 0 ? QString() : part.mid(at + 2);
}

int FixtureDialogModel::entrySn(const QString &entry, int missing)
{
    static const QRegularExpression re(QStringLiteral("SN:\\s*(\\d+)"));
    const QRegularExpressionMatch m = re.match(entry);
    if (!m.hasMatch())
        return missing;
    return m.captured(1).toInt();
}

QList<QStringList> FixtureDialogModel::channelRows(const TextTableModel &rules, const TextTableModel &remarks)
{
    static const QRegularExpression leadingDigits(QStringLiteral("^(\\d+)"));
    QList<QStringList> rows;
    for (int r = 0; r < rules.rowCount(); ++r) {
        if (!rules.item(r, ColDmx))
            continue;
        const QRegularExpressionMatch m = leadingDigits.match(rules.text(r, ColDmx));
        rows.append({rules.text(r, ColSn), m.hasMatch() ? m.captured(1) : QStringLiteral("0"), remarks.text(r, 0)});
    }
    return rows;
}

// ---- opening ----

void FixtureDialogModel::fillAvailable(const QList<QStringList> &rows)
{
    m_available.clear();
    for (const QStringList &fields : rows) {
        const QString sn = fields.size() == 3 ? fields.at(0) : QString();
        if (!sn.isEmpty() && m_registry.isUsedSN(sn))
            continue;
        m_available.append(offeredEntry(fields));
    }
    emit availableChanged();
}

void FixtureDialogModel::resetWithChannelRows(const QList<QStringList> &rows)
{
    m_editing = false;
    m_editedName.clear();
    m_picturePath.clear();
    m_name.clear();
    fillAvailable(rows);
    m_selected.clear();
    emit selectedChanged();
    updateChannelBindings();
}

void FixtureDialogModel::setChannelRows(const QList<QStringList> &rows)
{
    m_editing = true;
    m_editedName.clear();
    m_name.clear();
    fillAvailable(rows);
}

void FixtureDialogModel::setOriginalChannels(const QList<SelectedChannel> &channels) { m_original = channels; }

void FixtureDialogModel::setSelectedChannels(const QList<SelectedChannel> &channels)
{
    if (m_editing && m_editedName.isEmpty())
        m_editedName = m_name;
    m_original = channels;
    m_selected.clear();
    for (const SelectedChannel &c : channels)
        m_selected.append(channelEntry(c.sn, c.dmxCH, c.remark));
    emit selectedChanged();
    updateChannelBindings();

    const LightFixture stored = m_registry.fixture(m_name);
    const int roles[kColorRoles] = {stored.brightnessChannel, stored.redChannel, stored.greenChannel,
                                    stored.blueChannel};
    for (const ColorRole role : kRefillOrder) {
        const RoleList &list = m_roles[size_t(role)];
        if (list.items.isEmpty())
            continue;
        int index = 0;  // the empty item
        for (int i = 0; i < list.items.size(); ++i) {
            if (roleItemDmx(list.items.at(i)) == roles[int(role)] && roles[int(role)] >= 0) {
                index = i;
                break;
            }
        }
        setRoleIndex(role, index);
    }
}

// ---- state ----

QString FixtureDialogModel::roleText(ColorRole role) const
{
    const RoleList &list = m_roles[size_t(role)];
    return list.current >= 0 && list.current < list.items.size() ? list.items.at(list.current) : QString();
}

// ---- the user's actions ----

int FixtureDialogModel::moveToSelection(int availableRow)
{
    if (availableRow < 0 || availableRow >= m_available.size())
        return -1;
    const QString entry = m_available.at(availableRow);
    const QStringList parts = entryParts(entry);
    if (parts.first().startsWith(QStringLiteral("SN:"))) {
        bool ok = false;
        const int sn = parts.first().mid(3).trimmed().toInt(&ok);
        if (ok)
            m_releasedSNs.removeOne(sn);
    }
    int inserted = -1;
    if (parts.size() >= 2) {
        const int key = entrySn(entry, std::numeric_limits<int>::max());
        int low = 0;
        int high = m_selected.size() - 1;
        while (low <= high) {
            const int mid = low + (high - low) / 2;
            if (entrySn(m_selected.at(mid), std::numeric_limits<int>::max()) < key)
                low = mid + 1;
            else
                high = mid - 1;
        }
        m_selected.insert(low, entry);
        inserted = low;
    }
    m_available.removeAt(availableRow);
    emit availableChanged();
    if (inserted >= 0) {
        emit selectedChanged();
        emit entrySelected(inserted);
    }
    updateChannelBindings();
    return inserted;
}

void FixtureDialogModel::removeFromSelection(int selectedRow)
{
    if (selectedRow < 0 || selectedRow >= m_selected.size())
        return;
    const QString entry = m_selected.at(selectedRow);
    QStringList texts = m_available;
    texts.append(entry);
    std::stable_sort(texts.begin(), texts.end(),
                     [](const QString &a, const QString &b) { return entrySn(a, 0) < entrySn(b, 0); });
    m_available = texts;
    m_releasedSNs.append(entrySn(entry, std::numeric_limits<int>::max()));
    m_selected.removeAt(selectedRow);
    emit availableChanged();
    emit selectedChanged();
    updateChannelBindings();
}

void FixtureDialogModel::setRoleIndex(ColorRole role, int index)
{
    RoleList &list = m_roles[size_t(role)];
    if (index < -1 || index >= list.items.size() || index == list.current)
        return;
    list.current = index;
    updateChannelBindings();
}

void FixtureDialogModel::setColorChannels(int red, int green, int blue, int brightness)
{
    const std::pair<ColorRole, int> order[] = {
        {ColorRole::Red, red}, {ColorRole::Blue, blue}, {ColorRole::Green, green}, {ColorRole::Brightness, brightness}};
    for (const auto &[role, dmx] : order) {
        const int index = m_roles[size_t(role)].items.indexOf(roleItem(dmx));
        if (index >= 0)
            setRoleIndex(role, index);
    }
}

void FixtureDialogModel::updateChannelBindings()
{
    if (m_selected.isEmpty()) {
        for (RoleList &list : m_roles)
            list = RoleList();
        emit rolesChanged();
        return;
    }
    QSet<QString> taken;
    for (const ColorRole role : kRefillOrder) {
        const QString text = roleText(role);
        if (!text.isEmpty())
            taken.insert(text);
    }
    QStringList options;
    for (const QString &entry : qAsConst(m_selected)) {
        const QStringList parts = entryParts(entry);
        options.append(QStringLiteral("DMX CH: ") + partValue(parts.value(1)));
    }
    for (const ColorRole role : kRefillOrder) {
        RoleList &list = m_roles[size_t(role)];
        const QString remembered = roleText(role);
        list.items = QStringList{QString()};
        for (const QString &option : qAsConst(options))
            if (!taken.contains(option) || option == remembered)
                list.items.append(option);
        const int index = remembered.isEmpty() ? -1 : list.items.indexOf(remembered);
        list.current = index > 0 ? index : 0;
    }
    emit rolesChanged();
}

// ---- what the dialog hands back ----

QList<SelectedChannel> FixtureDialogModel::selectedChannels() const
{
    QList<SelectedChannel> channels;
    for (const QString &entry : m_selected) {
        const QStringList parts = entryParts(entry);
        if (parts.size() != 3)
            continue;
        channels.append({partValue(parts.at(0)), partValue(parts.at(1)).toInt(), partValue(parts.at(2))});
    }
    return channels;
}

QMap<QString, int> FixtureDialogModel::channelBindings() const
{
    QMap<QString, int> bindings;
    for (const ColorRole role : kRefillOrder) {
        const int dmx = roleItemDmx(roleText(role));
        if (dmx >= 0)
            bindings.insert(colorRoleName(role), dmx);
    }
    return bindings;
}

LightFixture FixtureDialogModel::definition() const
{
    LightFixture f;
    f.fixtureName = m_name;
    for (const SelectedChannel &c : selectedChannels()) {
        FixtureChannel channel;
        channel.sn = c.sn.toInt();
        channel.dmxCH = c.dmxCH;
        channel.remark = c.remark;
        f.selectedChannels.append(channel);
    }
    const auto role = [&](ColorRole r) {
        const QString text = roleText(r);
        return text.isEmpty() ? -1 : partValue(text).toInt();
    };
    f.redChannel = role(ColorRole::Red);
    f.greenChannel = role(ColorRole::Green);
    f.blueChannel = role(ColorRole::Blue);
    f.brightnessChannel = role(ColorRole::Brightness);
    return f;
}

bool FixtureDialogModel::isNameTaken(const QString &name) const
{
    if (!m_registry.hasFixture(name))
        return false;
    return !(m_editing && name == m_editedName);
}

FixtureDialogModel::SaveResult FixtureDialogModel::saveCurrentState()
{
    if (m_name.isEmpty())
        return SaveResult::EmptyName;
    if (isNameTaken(m_name))
        return SaveResult::NameTaken;
    const LightFixture f = definition();
    m_registry.addFixture(f);

    QSet<int> dmxChannels;
    for (const FixtureChannel &c : f.selectedChannels)
        dmxChannels.insert(c.dmxCH);
    QStringList kept;
    for (const QString &entry : qAsConst(m_available)) {
        const QStringList parts = entryParts(entry);
        if (parts.size() >= 2 && dmxChannels.contains(partValue(parts.at(1)).toInt()))
            continue;
        kept.append(entry);
    }
    if (kept.size() != m_available.size()) {
        m_available = kept;
        emit availableChanged();
    }

    for (const QString &entry : qAsConst(m_selected)) {
        if (!entry.startsWith(QStringLiteral("SN: ")))
            continue;
        const QString sn = partValue(entryParts(entry).first()).trimmed();
        if (sn.isEmpty())
            continue;
        m_registry.addUsedSN(sn);
        m_registry.setSnFixture(sn, m_name);
    }
    return SaveResult::Stored;
}

FixtureDialogModel::SaveResult FixtureDialogModel::ok()
{
    const SaveResult result = saveCurrentState();
    if (result != SaveResult::Stored)
        return result;
    for (const int sn : qAsConst(m_releasedSNs))
        m_registry.releaseSN(QString::number(sn));
    m_releasedSNs.clear();
    return result;
}

void FixtureDialogModel::cancel()
{
    m_selected.clear();
    m_available.clear();
    for (const SelectedChannel &c : qAsConst(m_original))
        m_available.append(channelEntry(c.sn, c.dmxCH, c.remark));
    m_releasedSNs.clear();
    emit availableChanged();
    emit selectedChanged();
    updateChannelBindings();
}

}  // namespace vl
