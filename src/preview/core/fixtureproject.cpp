#include "fixtureproject.h"

#include "common/core/safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>

namespace vl {

namespace {

QJsonObject rolesObject(const LightFixture &f)
{
    QJsonObject roles;
    const std::pair<const char *, int> bound[] = {
        {"Blue", f.blueChannel}, {"Brightness", f.brightnessChannel}, {"Green", f.greenChannel}, {"Red", f.redChannel}};
    for (const auto &[name, dmx] : bound)
        if (dmx != -1)
            roles.insert(QLatin1String(name), dmx);
    return roles;
}

}  // namespace

LightFixture ProjectFixture::toLightFixture() const
{
    LightFixture f;
    f.fixtureName = name;
    for (const SelectedChannel &c : channels) {
        FixtureChannel channel;
        channel.sn = c.sn.toInt();
        channel.dmxCH = c.dmxCH;
        channel.remark = c.remark;
        f.selectedChannels.append(channel);
    }
    f.redChannel = bindings.value(QStringLiteral("Red"), -1);
    f.greenChannel = bindings.value(QStringLiteral("Green"), -1);
    f.blueChannel = bindings.value(QStringLiteral("Blue"), -1);
    f.brightnessChannel = bindings.value(QStringLiteral("Brightness"), -1);
    return f;
}

QByteArray projectJson(const GlobalData &registry, const QHash<QString, QString> &itemPictures, bool withChannelPixmaps)
{
    QJsonArray fixtures;
    for (const LightFixture &f : registry.fixtureMap()) {
        const auto picture = itemPictures.constFind(f.fixtureName);
        const bool hasItem = picture != itemPictures.cend();
        QJsonArray channels;
        for (const FixtureChannel &c : f.selectedChannels) {
            QJsonObject channel;
            if (withChannelPixmaps && hasItem)
                channel.insert(QStringLiteral("Pixmap"), *picture);
            channel.insert(QStringLiteral("dmxCH"), c.dmxCH);
            channel.insert(QStringLiteral("remark"), c.remark);
            channel.insert(QStringLiteral("sn"), QString::number(c.sn));
            channels.append(channel);
        }
        QJsonObject fixture;
        if (hasItem && !picture->isEmpty())
            fixture.insert(QStringLiteral("Pixmap"), *picture);
        const QJsonObject roles = rolesObject(f);
        fixture.insert(QStringLiteral("channelBindings"), roles);
        fixture.insert(QStringLiteral("colorMapping"), roles);
        fixture.insert(QStringLiteral("fixtureName"), f.fixtureName);
        fixture.insert(QStringLiteral("selectedChannels"), channels);
        fixtures.append(fixture);
    }
    return QJsonDocument(fixtures).toJson(QJsonDocument::Indented);
}

ProjectRead parseProject(const QByteArray &content)
{
    ProjectRead read;
    read.message = ProjectTexts::badFormat();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return read;
    const QJsonArray array = doc.array();
    if (array.size() > kMaxProjectFixtures)
        return read;
    QVector<ProjectFixture> fixtures;
    fixtures.reserve(array.size());
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return read;
        const QJsonObject object = element.toObject();
        ProjectFixture f;
        f.name = object.value(QStringLiteral("fixtureName")).toString();
        f.pixmap = object.value(QStringLiteral("Pixmap")).toString();
        const QJsonObject bindings = object.value(QStringLiteral("channelBindings")).toObject();
        for (auto it = bindings.begin(); it != bindings.end(); ++it)
            f.bindings.insert(it.key(), it.value().toInt());
        const QJsonArray channels = object.value(QStringLiteral("selectedChannels")).toArray();
        for (const QJsonValue &c : channels) {
            const QJsonObject channel = c.toObject();
            f.channels.append({channel.value(QStringLiteral("sn")).toString(),
                               channel.value(QStringLiteral("dmxCH")).toInt(),
                               channel.value(QStringLiteral("remark")).toString()});
        }
        fixtures.append(f);
    }
    read.ok = true;
    read.message = ProjectTexts::loaded(fixtures.size());
    read.fixtures = fixtures;
    return read;
}

ProjectRead readProjectFile(const QString &path)
{
    ProjectRead read;
    if (path.isEmpty()) {
        read.message = ProjectTexts::noFileChosen();
        return read;
    }
    // A folder, a device or a pipe is refused without reading from it: a FIFO would keep
    // the window waiting for a writer, /dev/zero would never end.
    QByteArray content;
    FileProblem problem;
    if (!readRegularFile(path, kMaxProjectFileBytes, &content, &problem)) {
        QString reason = problem.code == EFBIG
                             ? QStringLiteral("The file is larger than %1 MB").arg(kMaxProjectFileBytes / (1024 * 1024))
                             : problem.reason;
        if (!reason.isEmpty())
            reason[0] = reason[0].toUpper();
        read.message = ProjectTexts::cannotOpen(reason + QLatin1Char('.'));
        return read;
    }
    return parseProject(content);
}

ProjectWrite writeProjectFile(const QString &path, const QByteArray &json)
{
    if (!writeFileWhole(path, json))
        return {false, ProjectTexts::saveFailedTitle(), ProjectTexts::cannotWrite()};
    return {true, ProjectTexts::savedTitle(), ProjectTexts::saved()};
}

void applyProject(const QVector<ProjectFixture> &fixtures, FixtureStage &stage)
{
    GlobalData &registry = stage.registry();
    stage.clearRecords();
    registry.clearFixtures();
    registry.clearSnMappings();
    registry.clearUsedSNs();
    for (const ProjectFixture &f : fixtures) {
        for (const SelectedChannel &c : f.channels) {
            if (c.sn.isEmpty())
                continue;
            const QString owner = registry.fixtureOfSn(c.sn);
            if (!owner.isEmpty() && owner != f.name)
                continue;
            registry.addUsedSN(c.sn);
            registry.setSnFixture(c.sn, f.name);
        }
        stage.addRecord(f.toRecord());
        registry.removeFixture(f.name);
        registry.addFixture(f.toLightFixture());
    }
}

QPointF projectItemPosition(int k) { return QPointF(k * 70.0 + 50.0, 50.0); }

void ProjectSession::opened(const QString &path)
{
    m_path = path;
    m_title = QFileInfo(path).baseName();
}

void ProjectSession::newProject(const QString &name)
{
    m_title = name;
    m_path.clear();
}

}  // namespace vl
