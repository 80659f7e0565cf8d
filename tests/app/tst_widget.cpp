// The editor window: construction, preferences, the naming menu, Clear and Exit, and how
// changes reach the light preview.

#include "app/ui/aboutdialog.h"
#include "app/ui/customlabel.h"
#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "recordingpreview.h"
#include "resources/resources.h"
#include "scripteddialogs.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/tableviews.h"
#include "tempworkdir.h"
#include "windowtest.h"

#include <QAction>
#include <QActionGroup>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItem>
#include <QtTest>
#include <memory>

using namespace vl;
using vl::test::RecordingPreview;
using vl::test::ScriptedDialogs;
using vl::test::TempWorkDir;

namespace {

void writeConfig(const QByteArray &text)
{
    QFile f("config.ini");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

void fillTable(RuleModel *m, int rows)
{
    m->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        m->setText(r, ColSn, QString::number(r + 1));
        const QStringList cells = {"1", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"};
        for (int c = 0; c < cells.size(); ++c)
            m->setText(r, ColDmx + c, cells[c]);
    }
}

}  // namespace

// Catches the URLs the help entries open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestWidget : public vl::test::WindowTest {
    Q_OBJECT

public:
    TestWidget() { useManualClock(); }

private slots:
    void windowAsBuilt()
    {
        Widget w;
        QCOMPARE(w.objectName(), QString("Widget"));
        QCOMPARE(w.windowTitle(), QString("Varilume"));
        QCOMPARE(w.size(), QSize(1100, 526));
        QCOMPARE(w.minimumSize(), QSize(955, 480));
        QCOMPARE(w.ruleModel()->rowCount(), 0);
        QCOMPARE(w.remarkModel()->rowCount(), kRuleRows);

        const QStringList buttons = {"connectButton", "pushButton", "pushButton_2", "clearButton", "pushButton_4"};
        const QStringList texts = {"Connect", "Read", "Set", "Clear", "test"};
        for (int i = 0; i < buttons.size(); ++i) {
            auto *b = w.findChild<QPushButton *>(buttons[i]);
            QVERIFY2(b, qPrintable(buttons[i]));
            QCOMPARE(b->text(), texts[i]);
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.findChild<QPushButton *>("checkButton")->isHidden());
        QVERIFY(w.findChild<QPushButton *>("pushButton_3")->isHidden());
        QVERIFY(w.findChild<QPushButton *>("pushButton_4")->isVisible());

        // The titles and their tooltips; every one but "SN" stays 30 s.
        const QStringList titles = {"SN",      "DMX Channels", "Status", "Controller", "Channel", "Fixed Value",
                                    "Fade In", "Fade Out",     "Toggle", "Enable",     "Remark"};
        for (int i = 0; i < titles.size(); ++i) {
            auto *label = w.findChild<QLabel *>(QString("titleLabel_%1").arg(i));
            QVERIFY(label);
            QCOMPARE(label->text(), titles[i]);
            const bool hasTip = titles[i] != "Fade In" && titles[i] != "Remark";
            QCOMPARE(!label->toolTip().isEmpty(), hasTip);
            if (hasTip)
                QCOMPARE(label->toolTipDuration(), i == 0 ? -1 : 30000);
        }
        QCOMPARE(w.findChild<QLabel *>("titleLabel_1")->toolTip(),
                 QString("Select DMX channel,DMX 1 port = 1~512,DMX 2 port = 513~1024"));
        QVERIFY(w.findChild<QLabel *>("titleLabel_7")->toolTip().contains(", \nwhen the DMX channel"));
        QCOMPARE(w.findChild<QLabel *>("groupLabel_3")->text(), QString("MIDI Message"));

        // The hint of a title follows the pointer.
        auto *status = w.findChild<QLabel *>("titleLabel_2");
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(status, &enter);
        auto *hint = static_cast<CustomLabel *>(status)->hint();
        QVERIFY(hint && hint->isVisible());
        QCOMPARE(hint->text(), status->toolTip());
        QCOMPARE(hint->pos(), status->mapToGlobal(status->rect().bottomLeft()) + QPoint(0, 10));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(status, &leave);
        QVERIFY(!hint->isVisible());

        // The grey band behind the menu bar.
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.pixelColor(w.width() - 2, 20).name(), QString("#b5b5b5"));
    }

    void menusInOrder()
    {
        Widget w;
        QMenuBar *bar = w.menuBarWindow()->menuBar();
        QStringList menus;
        for (QAction *a : bar->actions())
            menus << a->menu()->objectName() + ":" + a->text();
        // Every menu and entry has its Alt mnemonic.
        QCOMPARE(menus, QStringList({"menuFile:&File", "menuEdit:&Edit", "menuSetting:&Setting",
                                     "menuEmulator:E&mulator", "menuHelp:&Help"}));

        auto entries = [](QMenu *menu) {
            QStringList list;
            for (QAction *a : menu->actions())
                list << (a->menu() ? a->menu()->title() : a->objectName() + ":" + a->text());
            return list;
        };
        MainWindow *mw = w.menuBarWindow();
        QCOMPARE(entries(mw->menuFile), QStringList({"actionNew:&New Table", "action1:&Open File", "action2:&Save File",
                                                     "action3:Save File &As...", "action4:E&xit"}));
        QCOMPARE(entries(mw->menuEdit), QStringList({"actionUndo:&Undo", "actionRedo:&Redo"}));
        QCOMPARE(entries(mw->menuSetting),
                 QStringList({"MIDI Note=60 &Name", "action2_2:DMX &Break Time", "action3_2:DMX &After Break Time",
                              "action4_2:&Coefficient", "actionSleep_Time:S&leep Time", "action5:&Factory Reset",
                              "action6:Firm&ware Upgrade", "actionDmx_Rname:DMX Channel Al&iases"}));
        QCOMPARE(mw->action1_2->objectName(), QString("action1_2"));
        QCOMPARE(entries(mw->menuNaming), QStringList({"actionC3:C&3", "actionC4:C&4", "actionC5:C&5"}));
        QCOMPARE(entries(mw->menuEmulator),
                 QStringList({"actionOpen:&Open", "actionUpdate:&Update", "actionAuto_Updates:&Auto-Updates"}));
        QCOMPARE(entries(mw->menuHelp),
                 QStringList({"User &Manual", "action2_3:&About", "actioncheck_for_updates:&Check for Update"}));
        QCOMPARE(mw->menuUser_Manual->objectName(), QString("menuUser_Manual"));
        QCOMPARE(entries(mw->menuUser_Manual),
                 QStringList({"actionchinese_Manual:中文说明书", "actionEnglish_Manual:&English Manual"}));

        // The usual shortcuts; nothing claims the table's own Ctrl+C, Ctrl+V and Delete.
        const QList<QPair<QAction *, QString>> shortcuts = {{mw->actionNew, "Ctrl+N"},
                                                            {mw->action1, "Ctrl+O"},
                                                            {mw->action2, "Ctrl+S"},
                                                            {mw->action3, "Ctrl+Shift+S"},
                                                            {mw->action4, "Ctrl+Q"},
                                                            {mw->actionUndo, "Ctrl+Z"},
                                                            {mw->actionRedo, "Ctrl+Shift+Z, Ctrl+Y"}};
        for (const auto &[action, keys] : shortcuts) {
            QStringList texts;
            for (const QKeySequence &k : action->shortcuts())
                texts << k.toString();
            QCOMPARE(texts.join(", "), keys);
        }
        for (QAction *a : mw->findChildren<QAction *>())
            for (const QKeySequence &k : a->shortcuts())
                QVERIFY2(k != QKeySequence::Copy && k != QKeySequence::Paste && k != QKeySequence(Qt::Key_Delete),
                         qPrintable(a->objectName()));
        QVERIFY(mw->actionAuto_Updates->isCheckable());
        QVERIFY(mw->namingGroup->isExclusive());
        QCOMPARE(mw->maximumSize(), QSize(3000, 20));
    }

    void preferenceDefaults()
    {
        Widget w;
        MainWindow *mw = w.menuBarWindow();
        QVERIFY(w.autoUpdates());
        QVERIFY(mw->actionAuto_Updates->isChecked());
        QVERIFY(mw->actionC3->isChecked());
        QCOMPARE(w.cnum(), 1);
        QCOMPARE(w.noteName(60), QString("C3"));
        QVERIFY(!mw->actionC3->icon().pixmap(16).isNull());  // the hook
        QVERIFY(mw->actionC4->icon().pixmap(16).isNull());
        QVERIFY(!QFile::exists("config.ini"));  // reading alone writes nothing
    }

    void storedPreferences_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("cnum");
        QTest::addColumn<int>("checked");  // -1: none
        QTest::addColumn<bool>("autoUpdates");
        // clang-format off
        QTest::newRow("C5 stored") << QByteArray("[General]\nselectedActionIndex=2\n") << 3 << 2 << true;
        QTest::newRow("index 7 checks nothing") << QByteArray("[General]\nselectedActionIndex=7\n") << 2 << -1 << true;
        QTest::newRow("index -1 checks nothing") << QByteArray("[General]\nselectedActionIndex=-1\n") << 2 << -1
                                                 << true;
        QTest::newRow("auto updates off") << QByteArray("[General]\nautoUpdates=false\n") << 1 << 0 << false;
        QTest::newRow("empty file") << QByteArray() << 1 << 0 << true;
        QTest::newRow("garbled values") << QByteArray("[General]\nselectedActionIndex=banana\nautoUpdates=maybe\n")
                                        << 1 << 0 << true;
        QTest::newRow("binary garbage") << QByteArray("\x00\xff[[=\n\x01=\x02\n", 10) << 1 << 0 << true;
        // clang-format on
    }
    void storedPreferences()
    {
        QFETCH(QByteArray, config);
        QFETCH(int, cnum);
        QFETCH(int, checked);
        QFETCH(bool, autoUpdates);
        writeConfig(config);
        Widget w;
        QCOMPARE(w.cnum(), cnum);
        QCOMPARE(w.menuBarWindow()->checkedNamingIndex(), checked);
        QCOMPARE(w.autoUpdates(), autoUpdates);
        QCOMPARE(w.menuBarWindow()->actionAuto_Updates->isChecked(), autoUpdates);
    }

    void choicesSurviveRestart()
    {
        {
            Widget w;
            w.menuBarWindow()->actionC5->trigger();
            QCOMPARE(w.cnum(), 3);
            w.menuBarWindow()->actionAuto_Updates->trigger();
            QVERIFY(!w.autoUpdates());
        }
        QSettings stored("config.ini", QSettings::IniFormat);
        QCOMPARE(stored.value("selectedActionIndex").toInt(), 2);
        QCOMPARE(stored.value("autoUpdates").toBool(), false);
        Widget again;
        QCOMPARE(again.cnum(), 3);
        QVERIFY(again.menuBarWindow()->actionC5->isChecked());
        QVERIFY(!again.menuBarWindow()->actionC5->icon().pixmap(16).isNull());
        QVERIFY(again.menuBarWindow()->actionC3->icon().pixmap(16).isNull());
        QVERIFY(!again.autoUpdates());
    }

    void namingChangeRelabelsTable()
    {
        Widget w;
        QSignalSpy combin(&w, &Widget::send_combin);
        QSignalSpy cnumChange(&w, &Widget::cnum_change);
        RuleModel *m = w.ruleModel();
        m->setRowCount(2);
        m->setText(0, ColSta, "Note");
        m->setText(0, ColCtl, "60");
        m->setText(1, ColSta, "CC");
        m->setText(1, ColCtl, "7");
        w.normalizeControllerTexts();
        QCOMPARE(m->text(0, ColCtl), QString("60 / C3"));
        w.menuBarWindow()->actionC4->trigger();
        QCOMPARE(m->text(0, ColCtl), QString("60 / C4"));
        QCOMPARE(m->text(1, ColCtl), QString("7"));
        QCOMPARE(combin.count(), 1);
        QCOMPARE(combin.first().first().toInt(), 2);
        QCOMPARE(cnumChange.count(), 1);
        QCOMPARE(w.tableView()->cnum(), 2);

        // The tick turns a "CC" row's named controller back into a number.
        QVERIFY(w.tickTimer()->isActive());
        QCOMPARE(w.tickTimer()->interval(), 100);
        m->setText(0, ColSta, "CC");
        clock->advance(99);
        QCOMPARE(m->text(0, ColCtl), QString("60 / C4"));
        clock->advance(1);
        QCOMPARE(m->text(0, ColCtl), QString("60"));
        m->setText(0, ColSta, "Note");
        clock->advance(100);
        QCOMPARE(m->text(0, ColCtl), QString("60 / C4"));
        // Rows inserted whole (as a read inserts them) get the pass too.
        m->insertRow(
            2, {new QStandardItem("3"), new QStandardItem("3"), new QStandardItem("Note"), new QStandardItem("61")});
        clock->advance(100);
        QCOMPARE(m->text(2, ColCtl), QString("61 / C#4"));
    }

    void clearAsksAndKeepsRows_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("cleared");
        // clang-format off
        QTest::newRow("Ok") << int(QMessageBox::Ok) << true;
        QTest::newRow("Cancel") << int(QMessageBox::Cancel) << false;
        QTest::newRow("closed") << int(QMessageBox::NoButton) << false;
        // clang-format on
    }
    void clearAsksAndKeepsRows()
    {
        QFETCH(int, answer);
        QFETCH(bool, cleared);
        Widget w;
        fillTable(w.ruleModel(), 20);
        w.remarkModel()->setText(4, 0, "front wash");
        dialogs->buttons << QMessageBox::StandardButton(answer);
        QTest::mouseClick(w.findChild<QPushButton *>("clearButton"), Qt::LeftButton);

        QCOMPARE(dialogs->asked.size(), 1);
        const MessageRequest q = dialogs->lastMessage();
        QCOMPARE(q.kind, MessageKind::Question);
        QCOMPARE(q.parent, nullptr);
        QCOMPARE(q.title, QString(" "));
        QCOMPARE(q.text, QString::fromUtf8("Clear current configuration\xEF\xBC\x9F"));
        QCOMPARE(q.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(q.defaultButton, QMessageBox::NoButton);

        QCoreApplication::processEvents();  // the clearing is queued
        QCOMPARE(w.ruleModel()->rowCount(), 20);
        for (int r = 0; r < 20; ++r) {
            QCOMPARE(w.ruleModel()->text(r, ColSn), QString::number(r + 1));
            QCOMPARE(w.ruleModel()->isRuleRowEmpty(r), cleared);
        }
        QCOMPARE(w.remarkModel()->text(4, 0).isEmpty(), cleared);
    }

    void exitAsksFirst()
    {
        Widget w;
        RecordingPreview preview;
        w.setPreview(&preview);
        w.show();
        dialogs->buttons << QMessageBox::Cancel;
        w.menuBarWindow()->action4->trigger();
        QCOMPARE(dialogs->lastMessage().text, QString("Exit software?"));
        QCOMPARE(dialogs->lastMessage().title, QString(" "));
        QVERIFY(w.isVisible());
        QCOMPARE(preview.count("close"), 0);

        dialogs->buttons << QMessageBox::Ok;
        w.menuBarWindow()->action4->trigger();
        QVERIFY(!w.isVisible());
        QCOMPARE(preview.count("close"), 1);
    }

    void closingAsksNothingAndClosesPreview()
    {
        Widget w;
        RecordingPreview preview;
        w.setPreview(&preview);
        w.show();
        QVERIFY(w.close());
        QVERIFY(dialogs->asked.isEmpty());
        QCOMPARE(preview.count("close"), 1);
    }

    // Ten edits inside one 200 ms window: ten forwarded cells and a single full refresh.
    void changesCoalesce()
    {
        RecordingPreview preview;
        Widget w(&preview);
        fillTable(w.ruleModel(), 10);
        clock->advance(200);
        QVERIFY(!w.refreshPending());
        QCoreApplication::processEvents();
        preview.calls.clear();

        for (int r = 0; r < 10; ++r)
            w.ruleModel()->setText(r, ColDmx, QString::number(100 + r));
        QVERIFY(w.refreshPending());
        QCoreApplication::processEvents();
        QCOMPARE(preview.count("ruleCellChanged"), 10);
        QVERIFY(preview.calls.contains("ruleCellChanged 9 1 109"));
        QCOMPARE(preview.count("rebuildRuleSnapshots"), 0);

        clock->advance(199);
        QVERIFY(w.refreshPending());
        QCOMPARE(preview.count("rebuildRuleSnapshots"), 0);
        clock->advance(1);
        QVERIFY(!w.refreshPending());
        QCoreApplication::processEvents();  // the coefficient is posted
        QCOMPARE(preview.count("rebuildRuleSnapshots"), 1);
        const QStringList expected = {"rebuildRuleSnapshots", "refreshCcFaders",           "markNoteKeys",
                                      "markAtKeys",           "refreshFixtureDmxChannels", "refreshDetailsPanel",
                                      "setCoefficient 1"};
        QCOMPARE(preview.calls.mid(10), expected);
    }

    void clearedCellStartsRefreshOnly()
    {
        RecordingPreview preview;
        Widget w(&preview);
        fillTable(w.ruleModel(), 1);
        clock->advance(200);
        QVERIFY(!w.refreshPending());
        QCoreApplication::processEvents();
        preview.calls.clear();

        w.ruleModel()->clearCell(0, ColFix);
        QVERIFY(w.refreshPending());
        clock->advance(200);
        QVERIFY(!w.refreshPending());
        QCoreApplication::processEvents();
        QCOMPARE(preview.count("ruleCellChanged"), 0);
        QCOMPARE(preview.count("rebuildRuleSnapshots"), 1);
    }

    void autoUpdatesGateRemarksAndReads()
    {
        writeConfig("[General]\nautoUpdates=false\n");
        Widget w;
        RecordingPreview preview;
        w.setPreview(&preview);
        w.remarkModel()->setText(3, 0, "smoke");
        emit w.table_change();
        QCOMPARE(preview.calls, QStringList({"setNaming 1"}));

        w.menuBarWindow()->actionAuto_Updates->trigger();  // on again
        w.remarkModel()->setText(3, 0, "haze");
        emit w.table_change();
        QCOMPARE(preview.calls.mid(1, 6),
                 QStringList({"ruleRemarkChanged 3 haze", "rebuildRuleSnapshots", "refreshCcFaders", "markNoteKeys",
                              "markAtKeys", "setCoefficient 1"}));
    }

    void previewCommands()
    {
        RecordingPreview preview;
        Widget w(&preview);
        preview.calls.clear();
        QTest::mouseClick(w.findChild<QPushButton *>("pushButton_4"), Qt::LeftButton);
        const QStringList opened = {"rebuildRuleSnapshots", "refreshCcFaders",  "showMaximized", "markNoteKeys",
                                    "markAtKeys",           "setCoefficient 1", "show"};
        QCOMPARE(preview.calls, opened);
        preview.calls.clear();
        w.menuBarWindow()->actionOpen->trigger();
        QCOMPARE(preview.calls, opened);
        preview.calls.clear();
        w.menuBarWindow()->actionUpdate->trigger();
        QCOMPARE(preview.calls, QStringList({"rebuildRuleSnapshots", "refreshCcFaders", "markNoteKeys", "markAtKeys",
                                             "setCoefficient 1"}));
        preview.calls.clear();
        w.rec_mp(2.01);
        emit w.tableView()->send_startrow(6);
        emit w.tableView()->send_start_ad_strow(4, 5);
        QCOMPARE(preview.calls, QStringList({"setCoefficient 2.01", "ruleRowInserted 7", "ruleRowsDeleted 4 5"}));
    }

    void remarkAndAliasHelpers()
    {
        Widget w;
        w.applyRemarkLines("alias2=Wash\n");
        QCOMPARE(w.tableView_2()->model(), w.remarkModel());
        QCOMPARE(w.remarkModel()->text(2, 0), QString("Wash"));
        w.resetRemarkColumn(kRuleRows);
        QVERIFY(w.remarkModel()->isEmptyCell(2, 0));
    }

    void helpEntries()
    {
        Widget w;
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        w.menuBarWindow()->actionEnglish_Manual->trigger();
        w.menuBarWindow()->actionchinese_Manual->trigger();
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(catcher.opened.size(), 2);
        QVERIFY(catcher.opened[0].path().endsWith("/download/Product/KVR-9000/Varilume_User_Guide.pdf"));
        QCOMPARE(catcher.opened[1].path(), QString::fromUtf8("/download/Product/KVR-9000/Varilume软件使用说明书.pdf"));

        w.menuBarWindow()->action2_3->trigger();
        About_Dialog *about = w.aboutDialog();
        QVERIFY(about->isVisible());
        QVERIFY(!about->isModal());
        QCOMPARE(about->windowTitle(), QString("Help"));
        QCOMPARE(about->version(), QString("V4.0.1"));
        QTest::mouseClick(about->findChild<QPushButton *>("pushButton"), Qt::LeftButton);
        QVERIFY(!about->isVisible());
    }
};

QTEST_MAIN(TestWidget)
#include "tst_widget.moc"
