#pragma once

// Fixture projects: the preview's fixtures saved as a JSON array, one object per fixture
// in name order, keys in code-unit order, indented by four spaces:
//
//   "Pixmap"            the picture of the fixture's stage item (only when it has one)
//   "channelBindings"   {"Blue", "Brightness", "Green", "Red" → DMX channel} (bound roles)
//   "colorMapping"      the same again
//   "fixtureName"       the name
//   "selectedChannels"  [{"Pixmap"?, "dmxCH": n, "remark": text, "sn": "n"}, …]
//
// A project file is read whole and checked before anything on the stage changes; what is
// missing or of another type reads as an empty text or 0. Writing replaces the file whole
// or not at all. Levels are not saved.
//
// The window runs the dialogs and shows the messages; the texts are here.

#include "fixtureregistry.h"
#include "fixturestage.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QPointF>
#include <QString>
#include <QVector>

namespace vl {

// The texts of the project commands.
struct ProjectTexts {
    // New Project
    static QString newTitle() { return QStringLiteral("New Project"); }
    static QString newLabel() { return QStringLiteral("Please enter the project name:"); }
    static QString newInitialName() { return QStringLiteral("Untitled"); }
    static QString newDone() { return QStringLiteral("The new project has been successfully d."); }
    // Save Project / Save Project As
    static QString saveDialogTitle() { return QStringLiteral("Save Fixture Configuration"); }
    static QString saveFilter() { return QStringLiteral("Fixture Configuration File (*.json)"); }
    static QString saveStartName() { return QStringLiteral("/Untitled"); }  // after the home directory
    static QString saveFailedTitle() { return QStringLiteral("Save Failed"); }
    static QString nothingToSave() { return QStringLiteral("There is no fixture configuration data to save."); }
    static QString cannotWrite() { return QStringLiteral("无法打开文件进行写入"); }
    static QString savedTitle() { return QStringLiteral("Save Successful"); }
    static QString saved() { return QStringLiteral("Successfully saved to file"); }
    // Open Project
    static QString openDialogTitle() { return QStringLiteral("加载灯具配置"); }
    static QString openFilter() { return QStringLiteral("灯具配置文件 (*.json)"); }
    static QString openFailedTitle() { return QStringLiteral("加载失败"); }
    static QString noFileChosen() { return QStringLiteral("未选择文件。"); }
    static QString cannotOpen(const QString &reason) { return QStringLiteral("无法打开文件：%1").arg(reason); }
    static QString badFormat() { return QStringLiteral("JSON 格式不正确。"); }
    static QString loadedTitle() { return QStringLiteral("加载成功"); }
    static QString loaded(int count) { return QStringLiteral("成功加载 %1 个灯具配置。").arg(count); }
    // The first window title
    static QString untitled() { return QStringLiteral("Untitled"); }
};

// A fixture as a project file holds it.
struct ProjectFixture {
    QString name;
    QList<SelectedChannel> channels;
    QMap<QString, int> bindings;  // role name → DMX channel, as the file lists them
    QString pixmap;               // picture of the stage item; empty for none

    // The registry's entry: channel SNs read as numbers (0 when they are none), levels 0,
    // roles from the bindings (-1 when absent).
    LightFixture toLightFixture() const;
    FixtureRecord toRecord() const { return {name, channels, bindings}; }
};

// What reading a project gave: the fixtures, or the message box to show instead.
struct ProjectRead {
    bool ok = false;
    QString message;  // shown under ProjectTexts::openFailedTitle() when !ok
    QVector<ProjectFixture> fixtures;
};

// What saving gave: the box to show.
struct ProjectWrite {
    bool ok = false;
    QString title;
    QString message;
};

// Limits on what a project file may hold; beyond them the file is refused.
constexpr qint64 kMaxProjectFileBytes = 16 * 1024 * 1024;
constexpr int kMaxProjectFixtures = 10000;

// The project document. itemPictures: the picture path of the first stage item of each
// fixture name (a name without item is absent). withChannelPixmaps (Save Project): every
// channel object also names the item's picture, even an empty one.
QByteArray projectJson(const GlobalData &registry, const QHash<QString, QString> &itemPictures,
                       bool withChannelPixmaps);
// Reads a project document; refuses what is not a JSON array of objects.
ProjectRead parseProject(const QByteArray &content);
// Reads and parses a project file; an empty path is "no file chosen".
ProjectRead readProjectFile(const QString &path);
// Writes the document whole (a temporary file beside the target, renamed over it).
ProjectWrite writeProjectFile(const QString &path, const QByteArray &json);

// Replaces the stage's records and the registry with the loaded fixtures (SN bindings and
// used SNs included; an SN another fixture of the file already has keeps that binding;
// a repeated name keeps its last definition). The window makes one stage item per fixture,
// the k-th at projectItemPosition(k).
void applyProject(const QVector<ProjectFixture> &fixtures, FixtureStage &stage);
QPointF projectItemPosition(int k);

// The project's file and the window's title.
class ProjectSession {
public:
    QString projectPath() const { return m_path; }
    // "Untitled" until a project is opened or created.
    QString windowTitle() const { return m_title; }

    // Save Project writes here without asking; empty: ask as Save Project As does.
    QString saveTarget() const { return m_path; }
    // The Save As dialog's answer becomes the project's file (empty when cancelled).
    void setSavePath(const QString &path) { m_path = path; }
    // The Open dialog was cancelled: no project file.
    void openCancelled() { m_path.clear(); }
    // A project was loaded from path: it becomes the project's file, the title its base
    // name. A file that failed to load changes neither.
    void opened(const QString &path);
    // New Project: the title becomes the name and there is no file yet, so the next Save
    // asks for one instead of writing over the previous project.
    void newProject(const QString &name);

private:
    QString m_path;
    QString m_title = ProjectTexts::untitled();
};

}  // namespace vl
