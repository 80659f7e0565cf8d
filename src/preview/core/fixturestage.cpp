#include "fixturestage.h"

#include "fixturedetailsmodel.h"
#include "rulesnapshots.h"
#include "table/core/rulecolumns.h"

#include <limits>

namespace vl {

int dmxChannelOfText(const QString &text)
{
    int dmx = 0;
    return readLeadingNumber(text, &dmx) ? dmx : 0;
}

FixtureStage::FixtureStage(GlobalData &registry, QObject *parent) : QObject(parent), m_registry(registry) {}

void FixtureStage::setRuleModel(const TextTableModel *rules)
{
    if (rules)
        m_rules = rules;
}

void FixtureStage::setDetailsModel(FixtureDetailsModel *details) { m_details = details; }

int FixtureStage::indexOf(const QString &name) const
{
    for (int i = 0; i < m_records.size(); ++i)
        if (m_records.at(i).name == name)
            return i;
    return -1;
}

void FixtureStage::addRecord(const FixtureRecord &record) { m_records.append(record); }

void FixtureStage::clearRecords() { m_records.clear(); }

void FixtureStage::resetForNewProject()
{
    m_records.clear();
    m_registry.clearFixtures();
    m_registry.clearUsedSNs();
}

void FixtureStage::removeFixture(const QString &name)
{
    m_registry.removeFixture(name);
    const int i = indexOf(name);
    if (i < 0)
        return;
    for (const SelectedChannel &c : m_records.at(i).channels)
        if (!c.sn.isEmpty())
            m_registry.releaseSN(c.sn);
    m_records.removeAt(i);
}

void FixtureStage::applyEdit(const QString &oldName, const LightFixture &fixture,
                             const QList<SelectedChannel> &channels)
{
    m_registry.addFixture(fixture);
    const int i = indexOf(oldName);
    if (i < 0)
        return;
    m_registry.removeFixture(oldName);
    m_registry.addFixture(fixture);
    m_records[i].name = fixture.fixtureName;
    m_records[i].channels = channels;
}

void FixtureStage::ruleCellChanged(int row, int column, const QString &text)
{
    if (column != ColDmx || row < 0 || row == std::numeric_limits<int>::max())
        return;
    const int sn = row + 1;
    const int dmx = dmxChannelOfText(text);
    m_registry.updateChannels([&](FixtureChannel &c) {
        if (c.sn != sn || c.dmxCH == dmx)
            return false;
        c.dmxCH = dmx;
        return true;
    });
    const QString snText = QString::number(sn);
    for (FixtureRecord &r : m_records)
        for (SelectedChannel &c : r.channels)
            if (c.sn == snText)
                c.dmxCH = dmx;
    if (m_details)
        for (const int r : m_details->rowsOfSn(sn))
            m_details->setCellText(r, FixtureDetailsModel::DmxColumn, text);
}

void FixtureStage::ruleRemarkChanged(int row, const QString &text)
{
    if (row < 0 || row == std::numeric_limits<int>::max())
        return;
    const int sn = row + 1;
    m_registry.updateChannels([&](FixtureChannel &c) {
        if (c.sn != sn || c.remark == text)
            return false;
        c.remark = text;
        return true;
    });
    const QString snText = QString::number(sn);
    for (FixtureRecord &r : m_records)
        for (SelectedChannel &c : r.channels)
            if (c.sn == snText)
                c.remark = text;
    if (m_details)
        for (const int r : m_details->rowsOfSn(sn))
            m_details->setCellText(r, FixtureDetailsModel::RemarkColumn, text);
}

void FixtureStage::ruleRowInserted(int sn)
{
    m_registry.insertRuleRow(sn);
    for (FixtureRecord &r : m_records) {
        for (SelectedChannel &c : r.channels) {
            bool ok = false;
            const int n = c.sn.toInt(&ok);
            if (ok && n >= sn && n < std::numeric_limits<int>::max())
                c.sn = QString::number(n + 1);
        }
    }
}

bool FixtureStage::ruleRowsDeleted(int first, int last)
{
    if (first >= 0 && last >= first && last < std::numeric_limits<int>::max()) {
        const int firstSn = first + 1;
        const int lastSn = last + 1;
        const int count = last - first + 1;
        m_registry.removeRuleRows(firstSn, lastSn);
        for (FixtureRecord &r : m_records) {
            QList<SelectedChannel> kept;
            for (SelectedChannel c : qAsConst(r.channels)) {
                bool ok = false;
                const int n = c.sn.toInt(&ok);
                if (ok && n >= firstSn && n <= lastSn)
                    continue;
                if (ok && n > lastSn)
                    c.sn = QString::number(n - count);
                kept.append(c);
            }
            r.channels = kept;
        }
    }
    return m_rules && m_rules->rowCount() == 0;
}

void FixtureStage::refreshFixtureDmxChannels()
{
    if (!m_rules)
        return;
    const TextTableModel &rules = *m_rules;
    const auto dmxOfSn = [&](int sn) { return sn >= 1 ? dmxChannelOfText(rules.text(sn - 1, ColDmx)) : 0; };
    m_registry.updateChannels([&](FixtureChannel &c) {
        const int dmx = dmxOfSn(c.sn);
        if (c.dmxCH == dmx)
            return false;
        c.dmxCH = dmx;
        return true;
    });
    for (FixtureRecord &r : m_records)
        for (SelectedChannel &c : r.channels)
            c.dmxCH = dmxOfSn(c.sn.toInt());
}

}  // namespace vl
