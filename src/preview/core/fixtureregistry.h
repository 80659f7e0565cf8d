#pragma once

// The preview's fixtures: their channels, tied to rule rows by SN, the colour roles, and the
// current output level of every channel. GlobalData is the one registry of the process
// (instance()); tests and benchmarks may make their own.

#include <QColor>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace vl {

// One channel of a fixture.
struct FixtureChannel {
    int sn = 0;     // rule row index + 1
    int dmxCH = 0;  // 1 … 1024; above 512 is the second DMX port
    QString remark;
    int value = 0;  // current output level 0 … 255

    bool operator==(const FixtureChannel &o) const
    {
        return sn == o.sn && dmxCH == o.dmxCH && remark == o.remark && value == o.value;
    }
};

// One defined fixture. A colour role is -1 when no DMX channel drives it.
struct LightFixture {
    QString fixtureName;
    QList<FixtureChannel> selectedChannels;
    int redChannel = -1;
    int greenChannel = -1;
    int blueChannel = -1;
    int brightnessChannel = -1;

    bool operator==(const LightFixture &o) const
    {
        return fixtureName == o.fixtureName && selectedChannels == o.selectedChannels && redChannel == o.redChannel
               && greenChannel == o.greenChannel && blueChannel == o.blueChannel
               && brightnessChannel == o.brightnessChannel;
    }
};

// A channel as the fixture dialog hands it back and as the stage keeps it: the SN as text.
struct SelectedChannel {
    QString sn;
    int dmxCH = 0;
    QString remark;

    bool operator==(const SelectedChannel &o) const { return sn == o.sn && dmxCH == o.dmxCH && remark == o.remark; }
};

class GlobalData : public QObject {
    Q_OBJECT
public:
    explicit GlobalData(QObject *parent = nullptr);

    // The registry of the process, created empty on first use and kept until exit.
    static GlobalData &instance();

    // Inserts or replaces the fixture under its name.
    void addFixture(const LightFixture &fixture);
    void removeFixture(const QString &name);
    bool hasFixture(const QString &name) const { return m_fixtures.contains(name); }
    // A copy of the entry, or an empty fixture with all roles -1.
    LightFixture fixture(const QString &name) const;
    // Names in code-unit order.
    QStringList fixtureNames() const { return m_fixtures.keys(); }
    const QMap<QString, LightFixture> &fixtureMap() const { return m_fixtures; }
    // Replaces the channel list of an existing entry; an unknown name changes nothing.
    void setFixtureChannels(const QString &name, const QList<FixtureChannel> &channels);

    // SNs bound to some fixture; the fixture dialog does not offer them. Empty texts are
    // ignored.
    void addUsedSN(const QString &sn);
    void releaseSN(const QString &sn);
    bool isUsedSN(const QString &sn) const { return m_usedSNs.contains(sn); }
    const QSet<QString> &permanentlyUsedSNs() const { return m_usedSNs; }
    // Every used SN that reads as a number >= from moves up or down by count.
    void shiftUsedSNs(int from, int count, bool up);

    void setSnFixture(const QString &sn, const QString &name);
    // The fixture an SN belongs to; empty when none.
    QString fixtureOfSn(const QString &sn) const { return m_snToFixture.value(sn); }
    const QMap<QString, QString> &snToFixture() const { return m_snToFixture; }

    void clearFixtures();
    void clearSnMappings();
    void clearUsedSNs();

    // Every channel of every fixture on DMX channel dmx gets the level.
    void setChannelValue(int dmx, int value);
    // The level of the first channel on dmx, in name and channel order; 0 when none.
    int firstChannelValue(int dmx) const;
    int channelValue(const QString &name, int dmx) const;
    QString channelRemark(const QString &name, int dmx) const;

    // The fill colour of a fixture: red, green and blue levels scaled by the brightness
    // level. A fixture without a brightness channel is black.
    QColor fixtureColor(const QString &name) const;

    // Runs fn on every channel of every fixture (name order, then channel order); fn
    // returns whether it changed the channel.
    void updateChannels(const std::function<bool(FixtureChannel &)> &fn);

    // Rule rows with SNs firstSn … lastSn were deleted and the rows below moved up: their
    // channels leave their fixtures, later channels take their new SNs, and the used SNs
    // and SN bindings follow the same way (those of deleted rows are released).
    void removeRuleRows(int firstSn, int lastSn);
    // A rule row was inserted at SN sn: channels, used SNs and SN bindings from sn on move
    // down by one.
    void insertRuleRow(int sn);

signals:
    // Fixtures were added, removed, replaced or had their channels replaced.
    void fixturesChanged();
    // Levels of the channels on this DMX channel changed.
    void channelValueChanged(int dmx);

private:
    QMap<QString, LightFixture> m_fixtures;
    QMap<QString, QString> m_snToFixture;
    QSet<QString> m_usedSNs;
};

}  // namespace vl
