// The light preview window: its panels following the rule table, the details button on
// the stage, the background picture, the MIDI message log and the port list, and the
// repaint pacing of the stage and the fader strip.

#include "midi/ui/keyboardwidget.h"
#include "midi/core/midibackend.h"
#include "midi/ui/midikeybutton.h"
#include "midi/ui/midioutputpanel.h"
#include "midi/core/qmidiout.h"
#include "preview/ui/addfixturedialog.h"
#include "preview/core/fixtureproject.h"
#include "preview/core/framelimiter.h"
#include "preview/ui/lightform.h"
#include "preview/ui/stagecontroller.h"
#include "preview/core/stagegeometry.h"
#include "preview/ui/stageitems.h"
#include "previewrules.h"
#include "windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGraphicsProxyWidget>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <sys/stat.h>

using namespace vl;
using namespace vl::test;

namespace {

// A MIDI system with the ports a test names.
struct FakePorts {
    QStringList names;
    QList<QByteArray> sent;
};

class FakeBackend final : public MidiBackend {
public:
    explicit FakeBackend(FakePorts *ports) : m(ports) {}
    QStringList portNames() override { return m->names; }
    bool open(int id, QString *error) override
    {
        if (id < 0 || id >= m->names.size()) {
            *error = QStringLiteral("no such port");
            return false;
        }
        return true;
    }
    void close() override {}
    bool send(const QByteArray &bytes, QString *) override
    {
        m->sent << bytes;
        return true;
    }

private:
    FakePorts *m;
};

using Rules = QList<Rule>;

}  // namespace

Q_DECLARE_METATYPE(Rules)

class TestLightForm : public WindowTest {
    Q_OBJECT

public:
    TestLightForm() { useManualClock(); }

private:
    FakePorts ports;
    std::unique_ptr<RuleModel> rules;
    std::unique_ptr<RemarkModel> remarks;

    std::unique_ptr<light_Form> makeWindow()
    {
        auto form = std::make_unique<light_Form>(nullptr, new QMidiOut(std::make_unique<FakeBackend>(&ports)));
        form->setRuleModel(rules.get());
        form->setRemarkModel(remarks.get());
        return form;
    }

    static void reload(light_Form &form)
    {
        form.rebuildRuleSnapshots();
        form.refreshCcFaders();
        form.markNoteKeys();
        form.markAtKeys();
    }

    // Controllers whose fader shows, and those of them that can be moved.
    static QList<int> shownFaders(const light_Form &form, bool enabledOnly)
    {
        QList<int> shown;
        for (const CcFader &f : form.ccFaders()) {
            const bool visible = !f.slider->isHidden() && !f.valueLabel->isHidden() && !f.numberLabel->isHidden();
            const bool enabled = f.slider->isEnabled() && f.valueLabel->isEnabled() && f.numberLabel->isEnabled();
            if (visible && (!enabledOnly || enabled))
                shown << f.controller;
        }
        return shown;
    }

    static QList<int> markedKeys(const KeyboardWidget *keyboard)
    {
        QList<int> marked;
        for (const MidiKeyButton *key : keyboard->keys()) {
            if (key->mapped) {
                marked << key->note;
                if (key->keyColor != MidiKeyButton::mappedColor)
                    marked << -1;  // marked without its colour
            } else if (key->keyColor != key->baseColor()) {
                marked << -2;  // coloured without being marked
            }
        }
        std::sort(marked.begin(), marked.end());
        return marked;
    }

    static QAction *menuEntry(const light_Form &form, const char *text)
    {
        for (QAction *a : form.menuBar->actions().first()->menu()->actions())
            if (a->text() == QLatin1String(text))
                return a;
        return nullptr;
    }

    // A fixture on the stage as Add leaves it: registry, record, SN binding and item.
    static FixtureItem *putFixture(light_Form &form, const QString &name, int sn, int dmx,
                                   const QString &picture = QString())
    {
        GlobalData &registry = form.core().registry();
        LightFixture f;
        f.fixtureName = name;
        f.selectedChannels = {FixtureChannel{sn, dmx, QStringLiteral("Dimmer"), 0}};
        f.brightnessChannel = dmx;
        registry.addFixture(f);
        registry.addUsedSN(QString::number(sn));
        registry.setSnFixture(QString::number(sn), name);
        const QMap<QString, int> bindings{{QStringLiteral("Brightness"), dmx}};
        form.core().stage().addRecord(
            {name, {SelectedChannel{QString::number(sn), dmx, QStringLiteral("Dimmer")}}, bindings});
        return form.stageController()->addFixtureItem(name, bindings, true, picture, QPointF(0, 0));
    }

    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static bool writeFile(const QString &path, const QByteArray &content)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }

    static void mouse(QWidget *target, QEvent::Type type, const QPoint &global)
    {
        QMouseEvent event(type, QPointF(5, 5), QPointF(global), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

private slots:
    void init()
    {
        WindowTest::init();
        ports = {};
        rules = std::make_unique<RuleModel>();
        remarks = std::make_unique<RemarkModel>();
    }
    void cleanup()
    {
        rules.reset();
        remarks.reset();
        // The window's fixtures live in the process's registry.
        GlobalData &registry = GlobalData::instance();
        registry.clearFixtures();
        registry.clearSnMappings();
        registry.clearUsedSNs();
        WindowTest::cleanup();
    }

    void builtAsDesigned()
    {
        auto form = makeWindow();
        QCOMPARE(form->windowTitle(), QStringLiteral("Untitled"));
        QCOMPARE(form->size(), QSize(1366, 768));
        QVERIFY(form->pushButton_3->isHidden());
        QVERIFY(!form->pushButton_4->isHidden());
        QCOMPARE(form->fixtureDialog->windowTitle(), QStringLiteral("Add Fixture"));
        QCOMPARE(form->midiMessageDialog->windowTitle(), QStringLiteral("MIDI Message"));
        QVERIFY(!form->detailsProxy->isVisible());
        QCOMPARE(form->detailsProxy->size(), QSizeF(400, 300));
        QCOMPARE(form->ccFaders().size(), 128);
        QCOMPARE(form->comboBox_2->count(), 16);
        QCOMPARE(shownFaders(*form, false), QList<int>());
        QStringList entries;
        for (QAction *a : form->menuBar->actions().first()->menu()->actions())
            entries << a->text();
        QCOMPARE(entries, QStringList({"New Project", "Open Project", "Save Project", "Save Project As"}));
        QCOMPARE(form->menuBar->actions().first()->text(), QStringLiteral("File"));
        QCOMPARE(form->saveShortcut->key(), QKeySequence(QStringLiteral("Ctrl+C")));

        // The keyboards take the first screen's available width.
        const int w = QGuiApplication::screens().first()->availableGeometry().width();
        QCOMPARE(form->noteKeyboard->width(), w - 42);
        QCOMPARE(form->atKeyboard->height(), 95);
        QCOMPARE(form->widget_2->maximumWidth(), w);
    }

    // ---- the project commands ----

    // Save Project (menu and Ctrl+C) asks for a file until the project has one, then
    // writes there without asking; Save Project As always asks.
    void saveAndSaveAs()
    {
        auto form = makeWindow();
        const QString home = QDir::homePath();

        // Nothing on the stage: nothing to save, and no file dialog.
        menuEntry(*form, "Save Project")->trigger();
        QCOMPARE(dialogs->asked.size(), 1);
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Warning);
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Save Failed"));
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("There is no fixture configuration data to save."));

        putFixture(*form, "Par", 5, 1, "pix/par.png");
        dialogs->clear();
        const QString show = dir->file("show.json");
        dialogs->files << show;
        form->saveShortcut->activated();  // Ctrl+C
        QCOMPARE(dialogs->asked.size(), 2);
        const FileRequest asked = dialogs->asked.first().file;
        QCOMPARE(asked.mode, FileMode::Save);
        QCOMPARE(asked.caption, QStringLiteral("Save Fixture Configuration"));
        QCOMPARE(asked.directory, home + "/Untitled");
        QCOMPARE(asked.filter, QStringLiteral("Fixture Configuration File (*.json)"));
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Information);
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Save Successful"));
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("Successfully saved to file"));
        QCOMPARE(form->projectPath(), show);
        QCOMPARE(form->windowTitle(), QStringLiteral("Untitled"));
        // Saved as: the picture on the fixture only.
        QCOMPARE(readFile(show).count("\"Pixmap\": \"pix/par.png\""), 1);

        // Saved to the project's file: no dialog, and every channel names the picture too.
        dialogs->clear();
        menuEntry(*form, "Save Project")->trigger();
        QCOMPARE(dialogs->asked.size(), 1);
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Save Successful"));
        QCOMPARE(readFile(show).count("\"Pixmap\": \"pix/par.png\""), 2);
        const ProjectRead read = readProjectFile(show);
        QVERIFY(read.ok);
        QCOMPARE(read.fixtures.size(), 1);
        QCOMPARE(read.fixtures.first().name, QStringLiteral("Par"));

        // A place that cannot be written says so and keeps nothing half-written.
        dialogs->clear();
        dialogs->files << dir->file("no/such/folder/show.json");
        menuEntry(*form, "Save Project As")->trigger();
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Warning);
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Save Failed"));
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("无法打开文件进行写入"));

        // A cancelled Save As leaves no project file: the next Save asks again.
        dialogs->clear();
        dialogs->files << QString();
        menuEntry(*form, "Save Project As")->trigger();
        QCOMPARE(form->projectPath(), QString());
        dialogs->files << QString();
        form->on_pushButton_3_clicked();
        QCOMPARE(dialogs->asked.size(), 2);
        QCOMPARE(dialogs->asked.at(1).kind, Asked::File);
    }

    // New Project empties the stage and leaves no file: the next Save asks instead of
    // writing over the previous project.
    void newProjectThenSaveAsks()
    {
        auto form = makeWindow();
        putFixture(*form, "Par", 5, 1);
        const QString first = dir->file("first.json");
        dialogs->files << first;
        menuEntry(*form, "Save Project As")->trigger();
        const QByteArray saved = readFile(first);
        QVERIFY(!saved.isEmpty());
        form->showFixtureDetails("Par");
        QVERIFY(form->detailsProxy->isVisible());

        // Cancelled, or no name: nothing happens.
        dialogs->clear();
        dialogs->inputs << InputAnswer{false, "Tour"} << InputAnswer{true, ""};
        menuEntry(*form, "New Project")->trigger();
        menuEntry(*form, "New Project")->trigger();
        QCOMPARE(dialogs->asked.size(), 2);
        QCOMPARE(form->stageController()->fixtureItems().size(), 1);
        QCOMPARE(form->projectPath(), first);

        dialogs->clear();
        dialogs->inputs << InputAnswer{true, "Tour"};
        menuEntry(*form, "New Project")->trigger();
        QCOMPARE(dialogs->asked.size(), 2);
        const InputRequest input = dialogs->asked.first().input;
        QCOMPARE(input.title, QStringLiteral("New Project"));
        QCOMPARE(input.label, QStringLiteral("Please enter the project name:"));
        QCOMPARE(input.text, QStringLiteral("Untitled"));
        QVERIFY(input.noContextHelp);
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Information);
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("New Project"));
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("The new project has been successfully d."));
        QCOMPARE(form->windowTitle(), QStringLiteral("Tour"));
        QVERIFY(form->stageController()->fixtureItems().isEmpty());
        QVERIFY(form->core().registry().fixtureNames().isEmpty());
        QVERIFY(form->core().stage().records().isEmpty());
        QVERIFY(!form->detailsProxy->isVisible());
        QVERIFY(form->core().details().displayedFixtureName().isEmpty());

        putFixture(*form, "Spot", 6, 2);
        dialogs->clear();
        dialogs->files << QString();  // the user does not choose the old file
        form->saveShortcut->activated();
        QCOMPARE(dialogs->asked.size(), 1);
        QCOMPARE(dialogs->asked.first().kind, Asked::File);
        QCOMPARE(readFile(first), saved);
    }

    // Open Project: the fixtures of the file in one row, all names shown; a file that does
    // not load leaves the stage and the project as they were.
    void openProject_data()
    {
        QTest::addColumn<QString>("file");  // in the working directory; empty: cancelled
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");  // the message, or how it begins

        const QByteArray three = R"([
            {"fixtureName": "Wash", "channelBindings": {"Brightness": 1, "Red": 2},
             "selectedChannels": [{"sn": "1", "dmxCH": 1, "remark": "Dimmer"}, {"sn": "2", "dmxCH": 2}]},
            {"fixtureName": "Spot", "Pixmap": "pix/spot.png", "selectedChannels": [{"sn": 3, "dmxCH": 3}]},
            {"fixtureName": "Bar"}
        ])";
        // clang-format off
        QTest::newRow("three fixtures") << "club.night.json" << three << "加载成功" << "成功加载 3 个灯具配置。";
        QTest::newRow("not JSON") << "notes.json" << QByteArray("my notes, not fixtures") << "加载失败"
                                  << "JSON 格式不正确。";
        QTest::newRow("an object") << "object.json" << QByteArray(R"({"fixtureName": "Wash"})") << "加载失败"
                                   << "JSON 格式不正确。";
        QTest::newRow("nested deeply") << "deep.json" << QByteArray(100000, '[') + QByteArray(100000, ']')
                                       << "加载失败" << "JSON 格式不正确。";
        QTest::newRow("missing") << "missing.json" << QByteArray() << "加载失败" << "无法打开文件：";
        QTest::newRow("cancelled") << "" << QByteArray() << "加载失败" << "未选择文件。";
        // clang-format on
    }
    void openProject()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, title);
        QFETCH(QString, text);
        const bool loads = title == QStringLiteral("加载成功");

        setRules(*rules, {{"1"}, {"2"}, {"3"}, {"4"}});
        auto form = makeWindow();
        FixtureItem *before = putFixture(*form, "Before", 4, 4);
        before->setPos(300, 200);
        form->core().selectFixture("Before");
        const QString previous = dir->file("previous.json");
        dialogs->files << previous;
        menuEntry(*form, "Save Project As")->trigger();

        const QString path = file.isEmpty() ? QString() : dir->file(file);
        if (!content.isEmpty())
            QVERIFY(writeFile(path, content));
        dialogs->clear();
        dialogs->files << path;
        menuEntry(*form, "Open Project")->trigger();
        QCOMPARE(dialogs->asked.size(), 2);
        const FileRequest asked = dialogs->asked.first().file;
        QCOMPARE(asked.mode, FileMode::Open);
        QCOMPARE(asked.caption, QStringLiteral("加载灯具配置"));
        QCOMPARE(asked.directory, QDir::homePath());
        QCOMPARE(asked.filter, QStringLiteral("灯具配置文件 (*.json)"));
        const MessageRequest box = dialogs->lastMessage();
        QCOMPARE(box.kind, loads ? MessageKind::Information : MessageKind::Warning);
        QCOMPARE(box.title, title);
        QVERIFY2(box.text.startsWith(text), qPrintable(box.text));
        if (text.endsWith(QStringLiteral("：")))
            QVERIFY(box.text.size() > text.size());  // the system's reason follows

        QStringList items;
        for (const FixtureItem *item : form->stageController()->fixtureItems())
            items << QStringLiteral("%1 at %2,%3%4")
                         .arg(item->name())
                         .arg(item->x())
                         .arg(item->y())
                         .arg(item->showName() ? "" : " (no name)");
        if (loads) {
            QCOMPARE(items, QStringList({"Wash at 50,50", "Spot at 120,50", "Bar at 190,50"}));
            QCOMPARE(form->windowTitle(), QStringLiteral("club"));
            QCOMPARE(form->projectPath(), path);
            QCOMPARE(form->core().registry().fixtureNames(), QStringList({"Bar", "Spot", "Wash"}));
            QVERIFY(!form->core().engine().hasCurrentFixture());
            const FixtureItem *wash = form->stageController()->fixtureItems().first();
            const QMap<QString, int> bindings{{"Brightness", 1}, {"Red", 2}};
            QCOMPARE(wash->channelBindings(), bindings);
            QCOMPARE(form->stageController()->fixtureItems().at(1)->picturePath(), QStringLiteral("pix/spot.png"));
            // "sn" as a number is no SN: the channel has none and binds nothing.
            QCOMPARE(form->core().registry().fixture("Spot").selectedChannels.first().sn, 0);
            QCOMPARE(form->core().registry().fixtureOfSn("1"), QStringLiteral("Wash"));
            QCOMPARE(form->core().registry().fixtureOfSn("4"), QString());
        } else {
            QCOMPARE(items, QStringList({"Before at 300,200"}));
            QCOMPARE(form->stageController()->fixtureItems().first(), before);
            QCOMPARE(form->windowTitle(), QStringLiteral("Untitled"));
            QCOMPARE(form->core().registry().fixtureNames(), QStringList({"Before"}));
            QCOMPARE(form->core().registry().fixtureOfSn("4"), QStringLiteral("Before"));
            QCOMPARE(form->core().stage().records().size(), 1);
            QVERIFY(form->core().engine().hasCurrentFixture());
            // A cancelled dialog forgets the project's file; a file that failed keeps it.
            QCOMPARE(form->projectPath(), file.isEmpty() ? QString() : previous);
        }
    }

    // Pictures named by a project: one file named by many fixtures is held once; a pipe or
    // a device under a picture's name is not read (it would never end).
    void projectPictures()
    {
        QVERIFY(QDir().mkpath("pix"));
        QImage picture(40, 40, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QVERIFY(picture.save("pix/par.png"));
        QCOMPARE(::mkfifo("pix/pipe.png", 0600), 0);
        QVERIFY(writeFile("show.json", R"([{"fixtureName": "A", "Pixmap": "pix/par.png"},
            {"fixtureName": "B", "Pixmap": "pix/par.png"}, {"fixtureName": "C", "Pixmap": "pix/pipe.png"},
            {"fixtureName": "D", "Pixmap": "/dev/zero"}])"));
        auto form = makeWindow();
        dialogs->files << "show.json";
        menuEntry(*form, "Open Project")->trigger();
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("成功加载 4 个灯具配置。"));
        const QList<FixtureItem *> &items = form->stageController()->fixtureItems();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items.at(0)->picture().size(), QSize(40, 40));
        QCOMPARE(items.at(1)->picture().cacheKey(), items.at(0)->picture().cacheKey());
        QVERIFY(items.at(2)->picture().isNull());
        QVERIFY(items.at(3)->picture().isNull());
        // The paths stay as the file names them, for the next save.
        QCOMPARE(items.at(2)->picturePath(), QStringLiteral("pix/pipe.png"));

        // A picture changed on disk is read again.
        picture = QImage(30, 30, QImage::Format_RGB32);
        picture.fill(Qt::red);
        const QDateTime before = QFileInfo("pix/par.png").lastModified();
        QVERIFY(picture.save("pix/par.png"));
        QFile changed("pix/par.png");
        QVERIFY(changed.open(QIODevice::ReadWrite));
        QVERIFY(changed.setFileTime(before.addSecs(5), QFileDevice::FileModificationTime));
        changed.close();
        FixtureItem *e = form->stageController()->addFixtureItem("E", {}, true, "pix/par.png", QPointF());
        QCOMPARE(e->picture().size(), QSize(30, 30));
        QCOMPARE(items.at(0)->picture().size(), QSize(40, 40));
    }

    // "test2" opens a project as the menu entry does.
    void test2OpensAProject()
    {
        auto form = makeWindow();
        const QString path = dir->file("one.json");
        QVERIFY(writeFile(path, R"([{"fixtureName": "Solo"}])"));
        dialogs->files << path;
        form->pushButton_4->click();
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("成功加载 1 个灯具配置。"));
        QCOMPARE(form->stageController()->fixtureItems().size(), 1);
        QCOMPARE(form->windowTitle(), QStringLiteral("one"));
    }

    void fadersFollowTheRules_data()
    {
        QTest::addColumn<Rules>("table");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<int>>("shown");
        QTest::addColumn<QList<int>>("movable");

        // clang-format off
        QTest::newRow("ALL, enabled") << Rules{{"1", "CC", "7", "ALL", "", "", "", "", "ON"}} << 1 << QList<int>{7}
                                      << QList<int>{7};
        QTest::newRow("ALL, disabled") << Rules{{"1", "CC", "7", "ALL", "", "", "", "", "OFF"}} << 1
                                       << QList<int>{7} << QList<int>{};
        QTest::newRow("another channel") << Rules{{"1", "CC", "7", "1", "", "", "", "", "ON"}} << 2 << QList<int>{7}
                                         << QList<int>{};
        QTest::newRow("the later row decides")
            << Rules{{"1", "CC", "7", "1", "", "", "", "", "ON"}, {"2", "CC", "7", "2", "", "", "", "", "ON"}} << 1
            << QList<int>{7} << QList<int>{};
        QTest::newRow("a note names no fader") << Rules{{"1", "Note", "7 / G-2", "ALL", "", "", "", "", "ON"}} << 1
                                               << QList<int>{} << QList<int>{};
        // clang-format on
    }
    void fadersFollowTheRules()
    {
        QFETCH(Rules, table);
        QFETCH(int, channel);
        QFETCH(QList<int>, shown);
        QFETCH(QList<int>, movable);
        int row = 0;
        for (const Rule &r : table)
            setRule(*rules, row++, r);
        auto form = makeWindow();
        form->comboBox_2->setCurrentIndex(channel - 1);
        reload(*form);
        QCOMPARE(shownFaders(*form, false), shown);
        QCOMPARE(shownFaders(*form, true), movable);
    }

    void channelChangeRedecides()
    {
        setRules(*rules,
                 {{"1", "CC", "7", "2", "", "", "", "", "ON"}, {"2", "Note", "60 / C3", "2", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        QCOMPARE(shownFaders(*form, true), QList<int>());
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>());
        form->comboBox_2->setCurrentIndex(1);
        QCOMPARE(shownFaders(*form, true), QList<int>{7});
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>{60});
    }

    void noteRuleMarksTheNoteKeyboardOnly()
    {
        setRules(*rules, {{"1", "Note", "60 / C3", "ALL", "", "", "", "", "ON"},
                          {"2", "Note", "60 / C3", "ALL", "", "", "", "", "OFF"},
                          {"3", "AT", "62 / D3", "ALL", "", "", "", "", "OFF"}});
        auto form = makeWindow();
        reload(*form);
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>{60});
        QCOMPARE(markedKeys(form->atKeyboard), QList<int>());

        // Edited away and reloaded: the key goes back to white.
        rules->setText(0, ColEnable, QStringLiteral("OFF"));
        reload(*form);
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>());
    }

    void holdAppliesToMarkedKeys()
    {
        setRules(*rules, {{"1", "Note", "60 / C3", "ALL", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        form->noteHoldBox->setChecked(true);
        QVERIFY(form->noteHold);
        QVERIFY(form->noteKeyboard->keyForNote(60)->holdMode);
        QVERIFY(!form->noteKeyboard->keyForNote(61)->holdMode);
        QVERIFY(!form->atKeyboard->keyForNote(60)->holdMode);

        // Hiding the Note keyboard's panel takes its Hold row along and keeps the state.
        form->checkBox_2->click();
        QVERIFY(form->widget_3->isHidden());
        QVERIFY(!form->noteHoldBox->isVisibleTo(form.get()));
        QVERIFY(form->noteHold);
        form->noteHoldBox->setChecked(false);
        QVERIFY(!form->noteKeyboard->keyForNote(60)->holdMode);
    }

    void showBoxesHideTheirPanels_data()
    {
        QTest::addColumn<int>("box");
        // clang-format off
        QTest::newRow("Show CC Fader") << 1;
        QTest::newRow("Show Note Keyboard") << 2;
        QTest::newRow("Show AT Keyboard") << 3;
        // clang-format on
    }
    void showBoxesHideTheirPanels()
    {
        QFETCH(int, box);
        auto form = makeWindow();
        QCheckBox *boxes[] = {form->checkBox, form->checkBox_2, form->checkBox_3};
        QWidget *panels[] = {form->widget_2, form->widget_3, form->widget_4};
        boxes[box - 1]->click();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(panels[i]->isHidden(), i == box - 1);
        boxes[box - 1]->click();
        QVERIFY(!panels[box - 1]->isHidden());
    }

    void recCombinLabelsTheKeysOfC()
    {
        auto form = makeWindow();
        auto labels = [&](const KeyboardWidget *k) {
            QStringList l;
            for (const MidiKeyButton *key : k->keys())
                if (!key->label.isEmpty())
                    l << QStringLiteral("%1=%2").arg(key->note).arg(key->label);
            return l;
        };
        form->rec_combin(2);
        const QStringList expected = {"0=C-1", "12=C0", "24=C1", "36=C2",  "48=C3", "60=C4",
                                      "72=C5", "84=C6", "96=C7", "108=C8", "120=C9"};
        QCOMPARE(labels(form->noteKeyboard), expected);
        QCOMPARE(labels(form->atKeyboard), expected);
        form->rec_combin(4);
        QCOMPARE(labels(form->noteKeyboard), expected);
        form->rec_combin(1);
        QCOMPARE(labels(form->atKeyboard).first(), QStringLiteral("0=C-2"));
    }

    void detailsButtonPlace_data()
    {
        QTest::addColumn<qreal>("stageWidth");
        QTest::addColumn<QPointF>("button");
        // clang-format off
        QTest::newRow("1000 pixels") << 1000.0 << QPointF(740, 10);
        QTest::newRow("40 pixels") << 40.0 << QPointF(10, 10);
        // clang-format on
    }
    void detailsButtonPlace()
    {
        QFETCH(qreal, stageWidth);
        QFETCH(QPointF, button);
        auto form = makeWindow();
        form->detailsButton->setFixedSize(40, 30);
        form->positionDetailsPanel(QRectF(0, 0, stageWidth, 600));
        QCOMPARE(form->detailsButtonProxy->pos(), button);
        QCOMPARE(form->detailsProxy->pos(), button + QPointF(40, 0));
        QCOMPARE(form->detailsProxy->zValue(), 10.0);

        // An empty stage changes nothing.
        form->positionDetailsPanel(QRectF());
        QCOMPARE(form->detailsButtonProxy->pos(), button);
    }

    // The button keeps its place by the stage's right edge whenever the window changes size.
    void detailsButtonFollowsResizes()
    {
        auto form = makeWindow();
        form->detailsButton->setFixedSize(40, 30);
        const auto placed = [&] {
            return detailsButtonPosition(QRectF(QPointF(0, 0), form->visibleStageRect().size()), 40);
        };
        form->resize(1600, 1000);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTRY_COMPARE(form->detailsButtonProxy->pos(), placed());
        const qreal wide = form->detailsButtonProxy->pos().x();
        form->resize(form->minimumSizeHint().width(), 1000);
        QTRY_VERIFY(form->visibleStageRect().width() < wide);
        QTRY_COMPARE(form->detailsButtonProxy->pos(), placed());
        QVERIFY(form->detailsButtonProxy->pos().x() < wide);
    }

    void detailsPanelOpensForAFixture()
    {
        auto form = makeWindow();
        LightFixture wash;
        wash.fixtureName = QStringLiteral("Wash");
        wash.selectedChannels = {FixtureChannel{1, 1, QStringLiteral("Dimmer"), 0}};
        form->core().registry().addFixture(wash);
        form->detailsButton->setFixedSize(40, 30);
        form->positionDetailsPanel(QRectF(0, 0, 1000, 600));

        // A name the registry does not hold changes nothing.
        form->showFixtureDetails(QStringLiteral("Spot"));
        QVERIFY(!form->detailsProxy->isVisible());
        form->showFixtureDetails(QStringLiteral("Wash"));
        QVERIFY(form->detailsProxy->isVisible());
        QCOMPARE(form->detailsProxy->pos(), QPointF(780, 10));
        QCOMPARE(form->detailsButton->iconSize(), QSize(32, 32));

        // Closed by the button, reopened by the refresh after a burst of rule edits.
        mouse(form->detailsButton, QEvent::MouseButtonPress, QPoint(10, 10));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, QPoint(10, 10));
        QVERIFY(!form->detailsProxy->isVisible());
        form->refreshDetailsPanel();
        QVERIFY(form->detailsProxy->isVisible());
        form->core().registry().removeFixture(wash.fixtureName);
    }

    void detailsButtonClickAndDrag()
    {
        auto form = makeWindow();
        form->resize(1000, 700);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QRectF visible = form->visibleStageRect();
        form->positionDetailsPanel(visible);
        const QPointF start = form->detailsButtonProxy->pos();
        const int d = QApplication::startDragDistance();
        const QPoint g(500, 300);

        // Moving no further than the start-drag distance is a click: the panel opens.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(d, -d));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g + QPoint(d, -d));
        QVERIFY(form->detailsProxy->isVisible());
        QCOMPARE(form->detailsButtonProxy->pos(), start);
        QCOMPARE(form->detailsButton->iconSize(), QSize(32, 32));

        // Further is a drag: button and panel move together, nothing toggles.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(-(d + 1), 0));
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(-(d + 1) - 50, 20));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g + QPoint(-(d + 1) - 50, 20));
        QVERIFY(form->detailsProxy->isVisible());
        QCOMPARE(form->detailsButtonProxy->pos(), start + QPointF(-(d + 1) - 50, 20));
        QCOMPARE(form->detailsProxy->pos(), form->detailsButtonProxy->pos() + QPointF(form->detailsButton->width(), 0));

        // The button stays inside the visible stage; the panel may leave it.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(5000, 5000));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g + QPoint(5000, 5000));
        const QSizeF size = form->detailsButtonProxy->size();
        QCOMPARE(form->detailsButtonProxy->pos(),
                 QPointF(visible.right() - size.width(), visible.bottom() - size.height()));

        // A click closes the panel again.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g);
        QVERIFY(!form->detailsProxy->isVisible());
        QCOMPARE(form->detailsButton->iconSize(), QSize(23, 16));
    }

    void backgroundPicture()
    {
        QImage picture(200, 100, QImage::Format_RGB32);
        picture.fill(Qt::darkBlue);
        QVERIFY(picture.save(QStringLiteral("stage.png")));
        auto form = makeWindow();
        form->scene->setSceneRect(0, 0, 1000, 600);

        // A right press on the empty stage offers the one entry; the file dialog follows.
        QStringList offered;
        form->setMenuRunner([&](QMenu &menu, const QPoint &) {
            for (QAction *a : menu.actions())
                offered << a->text();
            return menu.actions().first();
        });
        dialogs->files << QStringLiteral("stage.png");
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 20), QPointF(20, 20), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QVERIFY(QApplication::sendEvent(form->graphicsView, &press));
        QCOMPARE(offered, QStringList{"Select the background picture"});
        QCOMPARE(dialogs->asked.size(), 1);
        QCOMPARE(dialogs->asked.first().title(), QStringLiteral("选择图片"));

        QGraphicsItem *added = nullptr;
        for (QGraphicsItem *item : form->scene->items())
            if (item->zValue() == -1000)
                added = item;
        QVERIFY(added);
        QCOMPARE(added->pos(), QPointF(392, 242));

        // Cancelled: nothing more on the stage.
        const int items = form->scene->items().size();
        dialogs->files << QString();
        QVERIFY(QApplication::sendEvent(form->graphicsView, &press));
        QCOMPARE(form->scene->items().size(), items);
    }

    void messageLogNumbering()
    {
        auto form = makeWindow();
        for (int i = 0; i < 3; ++i)
            form->logMidiMessage(QStringLiteral("CC"), 1, QString::number(i), QStringLiteral("64"));
        QAbstractItemModel *log = form->midiMessageTable->model();
        QCOMPARE(log->rowCount(), 3);
        QCOMPARE(log->index(2, 0).data().toString(), QStringLiteral("3"));
        QCOMPARE(log->index(2, 3).data().toString(), QStringLiteral("2"));
        auto *clear = form->midiMessageDialog->findChild<QPushButton *>(QStringLiteral("clearButton"));
        QVERIFY(clear);
        QCOMPARE(clear->text(), QStringLiteral("Clear"));
        clear->click();
        QCOMPARE(log->rowCount(), 0);
        form->logMidiMessage(QStringLiteral("Note On"), 2, QStringLiteral("60"), QStringLiteral("100"));
        QCOMPARE(log->index(0, 0).data().toString(), QStringLiteral("1"));
        QCOMPARE(log->index(0, 2).data().toString(), QStringLiteral("2"));

        form->pushButton_7->click();
        QVERIFY(form->midiMessageDialog->isVisible());
        QVERIFY(!form->midiMessageDialog->isModal());
    }

    void portLabelBeforeAndAfterFirstRefresh()
    {
        ports.names = QStringList{QStringLiteral("Synth"), QStringLiteral("KVR-9000 MIDI 1")};
        auto form = makeWindow();
        QCOMPARE(form->comboBox->itemText(0), QStringLiteral("Synth"));
        QCOMPARE(form->comboBox->itemText(1), QStringLiteral("Nemora KVR-9000"));
        QCOMPARE(form->comboBox->itemData(1).toString(), QStringLiteral("1"));
        QVERIFY(!form->midiPanel()->midiConnected());
        clock->advance(1000);
        QCOMPARE(form->comboBox->itemText(1), QStringLiteral("KVR-9000 MIDI 1"));
    }

    void faderSendsAndLogs()
    {
        ports.names = QStringList{QStringLiteral("Synth")};
        setRules(*rules, {{"1", "CC", "7", "ALL", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        dialogs->buttons << QMessageBox::Ok;
        form->pushButton_5->click();
        QVERIFY(form->midiPanel()->midiConnected());
        form->ccFaders().at(7).slider->setValue(100);
        QCOMPARE(ports.sent, QList<QByteArray>{QByteArray::fromHex("b00764")});
        QCOMPARE(form->midiMessageTable->model()->rowCount(), 1);
        // The value label follows with the next frame.
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QCOMPARE(form->ccFaders().at(7).valueLabel->text(), QStringLiteral("100"));
    }

    void fastFaderRepaintsAtFrameRate()
    {
        setRules(*rules, {{"1", "CC", "7", "ALL", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        QSlider *slider = form->ccFaders().at(7).slider;
        const int before = form->faderFrames()->frames();
        // 128 values within 64 ms of the clock: at most one frame per 20 ms.
        for (int v = 0; v < 128; ++v) {
            slider->setValue(v);
            if (v % 2)
                clock->advance(1);
        }
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        const int frames = form->faderFrames()->frames() - before;
        QVERIFY2(frames >= 1 && frames <= 5, qPrintable(QString::number(frames)));
        QCOMPARE(form->ccFaders().at(7).valueLabel->text(), QStringLiteral("127"));
        // The stage gathers its changes the same way.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        const int stageBefore = form->stageFrames()->frames();
        for (int i = 0; i < 10; ++i) {
            form->scene->update(QRectF(10 * i, 10, 5, 5));
            QCoreApplication::processEvents();
        }
        QVERIFY(form->stageFrames()->pending());
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QCOMPARE(form->stageFrames()->frames() - stageBefore, 1);
        // Nothing changes, nothing is scheduled.
        QVERIFY(!form->faderFrames()->pending());
        QVERIFY(!form->stageFrames()->pending());
    }
};

QTEST_MAIN(TestLightForm)
#include "tst_lightform.moc"
