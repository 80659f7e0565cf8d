#include "fixtureregistry.h"

#include <algorithm>
#include <limits>

namespace vl {

namespace {

// n + delta, held inside the int range (SNs read from files can be any number).
int shifted(int n, qint64 delta)
{
    return int(std::clamp<qint64>(qint64(n) + delta, 0, std::numeric_limits<int>::max()));
}

// What a renumbering returns for an SN that goes away with its row.
constexpr int kDropped = std::numeric_limits<int>::min();

// Gives every text of the set that reads as a number the SN `map` returns for it (dropped
// for kDropped); other texts stay.
template <typename Map>
QSet<QString> renumberTexts(const QSet<QString> &texts, const Map &map)
{
    QSet<QString> out;
    out.reserve(texts.size());
    for (const QString &t : texts) {
        bool ok = false;
        const int n = t.toInt(&ok);
        if (!ok) {
            out.insert(t);
            continue;
        }
        const int m = map(n);
        if (m != kDropped)
            out.insert(m == n ? t : QString::number(m));
    }
    return out;
}

template <typename Map>
QMap<QString, QString> renumberKeys(const QMap<QString, QString> &keys, const Map &map)
{
    QMap<QString, QString> out;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        bool ok = false;
        const int n = it.key().toInt(&ok);
        if (!ok) {
            out.insert(it.key(), it.value());
            continue;
        }
        const int m = map(n);
        if (m != kDropped)
            out.insert(m == n ? it.key() : QString::number(m), it.value());
    }
    return out;
}

}  // namespace

GlobalData::GlobalData(QObject *parent) : QObject(parent) {}

GlobalData &GlobalData::instance()
{
    // Never destroyed: stage items may still ask for colours while the program ends.
    static GlobalData *registry = new GlobalData;
    return *registry;
}

void GlobalData::addFixture(const LightFixture &fixture)
{
    m_fixtures.insert(fixture.fixtureName, fixture);
    emit fixturesChanged();
}

void GlobalData::removeFixture(const QString &name)
{
    if (m_fixtures.remove(name))
        emit fixturesChanged();
}

LightFixture GlobalData::fixture(const QString &name) const { return m_fixtures.value(name); }

void GlobalData::setFixtureChannels(const QString &name, const QList<FixtureChannel> &channels)
{
    auto it = m_fixtures.find(name);
    if (it == m_fixtures.end())
        return;
    it->selectedChannels = channels;
    emit fixturesChanged();
}

void GlobalData::addUsedSN(const QString &sn)
{
    if (!sn.isEmpty())
        m_usedSNs.insert(sn);
}

void GlobalData::releaseSN(const QString &sn) { m_usedSNs.remove(sn); }

void GlobalData::shiftUsedSNs(int from, int count, bool up)
{
    const qint64 delta = up ? qint64(count) : -qint64(count);
    m_usedSNs = renumberTexts(m_usedSNs, [&](int n) { return n >= from ? shifted(n, delta) : n; });
}

void GlobalData::setSnFixture(const QString &sn, const QString &name)
{
    if (!sn.isEmpty())
        m_snToFixture.insert(sn, name);
}

void GlobalData::clearFixtures()
{
    if (m_fixtures.isEmpty())
        return;
    m_fixtures.clear();
    emit fixturesChanged();
}

void GlobalData::clearSnMappings() { m_snToFixture.clear(); }

void GlobalData::clearUsedSNs() { m_usedSNs.clear(); }

void GlobalData::setChannelValue(int dmx, int value)
{
    bool changed = false;
    for (LightFixture &f : m_fixtures) {
        for (FixtureChannel &c : f.selectedChannels) {
            if (c.dmxCH == dmx && c.value != value) {
                c.value = value;
                changed = true;
            }
        }
    }
    if (changed)
        emit channelValueChanged(dmx);
}

int GlobalData::firstChannelValue(int dmx) const
{
    for (const LightFixture &f : m_fixtures)
        for (const FixtureChannel &c : f.selectedChannels)
            if (c.dmxCH == dmx)
                return c.value;
    return 0;
}

int GlobalData::channelValue(const QString &name, int dmx) const
{
    const auto it = m_fixtures.constFind(name);
    if (it == m_fixtures.cend())
        return 0;
    for (const FixtureChannel &c : it->selectedChannels)
        if (c.dmxCH == dmx)
            return c.value;
    return 0;
}

QString GlobalData::channelRemark(const QString &name, int dmx) const
{
    const auto it = m_fixtures.constFind(name);
    if (it == m_fixtures.cend())
        return QString();
    for (const FixtureChannel &c : it->selectedChannels)
        if (c.dmxCH == dmx)
            return c.remark;
    return QString();
}

QColor GlobalData::fixtureColor(const QString &name) const
{
    const auto it = m_fixtures.constFind(name);
    if (it == m_fixtures.cend())
        return QColor(0, 0, 0);
    const LightFixture &f = *it;
    const auto level = [&](int role) {
        if (role == -1)
            return 0;
        for (const FixtureChannel &c : f.selectedChannels)
            if (c.dmxCH == role)
                return c.value;
        return 0;
    };
    const int brightness = level(f.brightnessChannel);
    const auto scaled = [&](int role) { return std::clamp(level(role) * brightness / 255, 0, 255); };
    return QColor(scaled(f.redChannel), scaled(f.greenChannel), scaled(f.blueChannel));
}

void GlobalData::updateChannels(const std::function<bool(FixtureChannel &)> &fn)
{
    bool changed = false;
    for (LightFixture &f : m_fixtures)
        for (FixtureChannel &c : f.selectedChannels)
            changed = fn(c) || changed;
    if (changed)
        emit fixturesChanged();
}

void GlobalData::removeRuleRows(int firstSn, int lastSn)
{
    if (lastSn < firstSn)
        return;
    const qint64 count = qint64(lastSn) - firstSn + 1;
    const auto map = [&](int n) {
        if (n < firstSn)
            return n;
        return n > lastSn ? shifted(n, -qint64(count)) : kDropped;
    };
    bool changed = false;
    for (LightFixture &f : m_fixtures) {
        QList<FixtureChannel> kept;
        kept.reserve(f.selectedChannels.size());
        for (FixtureChannel c : f.selectedChannels) {
            const int m = map(c.sn);
            if (m == kDropped) {
                changed = true;
                continue;
            }
            changed = changed || m != c.sn;
            c.sn = m;
            kept.append(c);
        }
        f.selectedChannels = kept;
    }
    m_usedSNs = renumberTexts(m_usedSNs, map);
    m_snToFixture = renumberKeys(m_snToFixture, map);
    if (changed)
        emit fixturesChanged();
}

void GlobalData::insertRuleRow(int sn)
{
    const auto map = [&](int n) { return n >= sn ? shifted(n, 1) : n; };
    bool changed = false;
    for (LightFixture &f : m_fixtures) {
        for (FixtureChannel &c : f.selectedChannels) {
            if (c.sn >= sn && c.sn != map(c.sn)) {
                c.sn = map(c.sn);
                changed = true;
            }
        }
    }
    m_usedSNs = renumberTexts(m_usedSNs, map);
    m_snToFixture = renumberKeys(m_snToFixture, map);
    if (changed)
        emit fixturesChanged();
}

}  // namespace vl
