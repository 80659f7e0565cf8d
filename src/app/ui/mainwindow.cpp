#include "mainwindow.h"

#include "common/core/vendor.h"

#include <QAction>
#include <QActionGroup>
#include <QDesktopServices>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

namespace vl {

namespace {

QAction *addEntry(QMenu *menu, const char *objectName, const QString &text)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QLatin1String(objectName));
    return action;
}

void openGuide(const QString &path) { QDesktopServices::openUrl(QUrl(vendorSite() + path)); }

}  // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags()), m_checkedIcon(QStringLiteral(":/IMG/hook.ico")),
      m_uncheckedIcon(QStringLiteral(":/icons/unchecked.png"))
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("MainWindow"));
    resize(939, 61);

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralwidget"));
    central->setStyleSheet(QStringLiteral("background-color: rgb(181, 181, 181);"));
    setCentralWidget(central);

    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menubar"));
    bar->setStyleSheet(QStringLiteral("QMenuBar { background-color: #B5B5B5; }"));

    // Every menu and entry has an Alt mnemonic (the "&"); the usual shortcuts are on the
    // file and edit entries. The table's own Ctrl+C, Ctrl+V and Delete stay with the views.
    menuFile = bar->addMenu(QStringLiteral("&File"));
    menuFile->setObjectName(QStringLiteral("menuFile"));
    actionNew = addEntry(menuFile, "actionNew", QStringLiteral("&New Table"));
    actionNew->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    action1 = addEntry(menuFile, "action1", QStringLiteral("&Open File"));
    action1->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    action2 = addEntry(menuFile, "action2", QStringLiteral("&Save File"));
    action2->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    action3 = addEntry(menuFile, "action3", QStringLiteral("Save File &As..."));
    action3->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    action4 = addEntry(menuFile, "action4", QStringLiteral("E&xit"));
    action4->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    menuEdit = bar->addMenu(QStringLiteral("&Edit"));
    menuEdit->setObjectName(QStringLiteral("menuEdit"));
    actionUndo = addEntry(menuEdit, "actionUndo", QStringLiteral("&Undo"));
    actionUndo->setShortcut(QKeySequence(QStringLiteral("Ctrl+Z")));
    actionUndo->setEnabled(false);
    actionRedo = addEntry(menuEdit, "actionRedo", QStringLiteral("&Redo"));
    actionRedo->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Shift+Z")), QKeySequence(QStringLiteral("Ctrl+Y"))});
    actionRedo->setEnabled(false);

    menuSetting = bar->addMenu(QStringLiteral("&Setting"));
    menuSetting->setObjectName(QStringLiteral("menuSetting"));
    menuNaming = new QMenu(QStringLiteral("MIDI Note=60 &Name"), menuSetting);
    menuNaming->setObjectName(QStringLiteral("menuMIDI_Note_60_Name"));
    action1_2 = menuSetting->addMenu(menuNaming);
    action1_2->setObjectName(QStringLiteral("action1_2"));
    namingGroup = new QActionGroup(this);
    namingGroup->setExclusive(true);
    actionC3 = addEntry(menuNaming, "actionC3", QStringLiteral("C&3"));
    actionC4 = addEntry(menuNaming, "actionC4", QStringLiteral("C&4"));
    actionC5 = addEntry(menuNaming, "actionC5", QStringLiteral("C&5"));
    for (QAction *a : {actionC3, actionC4, actionC5}) {
        a->setCheckable(true);
        a->setIcon(m_uncheckedIcon);
        namingGroup->addAction(a);
    }
    action2_2 = addEntry(menuSetting, "action2_2", QStringLiteral("DMX &Break Time"));
    action3_2 = addEntry(menuSetting, "action3_2", QStringLiteral("DMX &After Break Time"));
    action4_2 = addEntry(menuSetting, "action4_2", QStringLiteral("&Coefficient"));
    actionSleep_Time = addEntry(menuSetting, "actionSleep_Time", QStringLiteral("S&leep Time"));
    action5 = addEntry(menuSetting, "action5", QStringLiteral("&Factory Reset"));
    action6 = addEntry(menuSetting, "action6", QStringLiteral("Firm&ware Upgrade"));
    actionDmx_Rname = addEntry(menuSetting, "actionDmx_Rname", QStringLiteral("DMX Channel Al&iases"));

    menuEmulator = bar->addMenu(QStringLiteral("E&mulator"));
    menuEmulator->setObjectName(QStringLiteral("menuEmulator"));
    actionOpen = addEntry(menuEmulator, "actionOpen", QStringLiteral("&Open"));
    actionUpdate = addEntry(menuEmulator, "actionUpdate", QStringLiteral("&Update"));
    actionAuto_Updates = addEntry(menuEmulator, "actionAuto_Updates", QStringLiteral("&Auto-Updates"));
    actionAuto_Updates->setCheckable(true);
    connect(actionAuto_Updates, &QAction::toggled, this, &MainWindow::autoUpdatesToggled);

    menuHelp = bar->addMenu(QStringLiteral("&Help"));
    menuHelp->setObjectName(QStringLiteral("menuHelp"));
    menuUser_Manual = menuHelp->addMenu(QStringLiteral("User &Manual"));
    menuUser_Manual->setObjectName(QStringLiteral("menuUser_Manual"));
    actionchinese_Manual = addEntry(menuUser_Manual, "actionchinese_Manual", QStringLiteral("中文说明书"));
    actionEnglish_Manual = addEntry(menuUser_Manual, "actionEnglish_Manual", QStringLiteral("&English Manual"));
    connect(actionchinese_Manual, &QAction::triggered, this, &MainWindow::open_chinese_fpd);
    connect(actionEnglish_Manual, &QAction::triggered, this, &MainWindow::open_english_fpd);
    action2_3 = addEntry(menuHelp, "action2_3", QStringLiteral("&About"));
    actioncheck_for_updates = addEntry(menuHelp, "actioncheck_for_updates", QStringLiteral("&Check for Update"));
}

void MainWindow::markNaming(QAction *chosen)
{
    for (QAction *a : namingGroup->actions())
        a->setIcon(a == chosen ? m_checkedIcon : m_uncheckedIcon);
}

int MainWindow::checkedNamingIndex() const { return namingGroup->actions().indexOf(namingGroup->checkedAction()); }

void MainWindow::open_chinese_fpd()
{
    openGuide(QStringLiteral("/download/Product/KVR-9000/Varilume软件使用说明书.pdf"));
}

void MainWindow::open_english_fpd() { openGuide(QStringLiteral("/download/Product/KVR-9000/Varilume_User_Guide.pdf")); }

}  // namespace vl
