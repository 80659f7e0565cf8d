#pragma once

// The menu bar of the editor window. It is a main window without a window of its own: the
// editor embeds it as its first row.

#include <QMainWindow>

class QAction;
class QActionGroup;
class QMenu;

namespace vl {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    // File
    QAction *actionNew = nullptr;  // "New Table"
    QAction *action1 = nullptr;    // "Open File"
    QAction *action2 = nullptr;    // "Save File"
    QAction *action3 = nullptr;    // "Save File As..."
    QAction *action4 = nullptr;    // "Exit"
    // Edit; the window names the step in their texts ("Undo Paste")
    QAction *actionUndo = nullptr;
    QAction *actionRedo = nullptr;
    // Setting
    QAction *action1_2 = nullptr;  // "MIDI Note=60 Name"
    QAction *actionC3 = nullptr;
    QAction *actionC4 = nullptr;
    QAction *actionC5 = nullptr;
    QActionGroup *namingGroup = nullptr;
    QAction *action2_2 = nullptr;         // "DMX Break Time"
    QAction *action3_2 = nullptr;         // "DMX After Break Time"
    QAction *action4_2 = nullptr;         // "Coefficient"
    QAction *actionSleep_Time = nullptr;  // "Sleep Time"
    QAction *action5 = nullptr;           // "Factory Reset"
    QAction *action6 = nullptr;           // "Firmware Upgrade"
    QAction *actionDmx_Rname = nullptr;   // "DMX Channel Aliases"
    // Emulator
    QAction *actionOpen = nullptr;
    QAction *actionUpdate = nullptr;
    QAction *actionAuto_Updates = nullptr;
    // Help
    QAction *actionchinese_Manual = nullptr;
    QAction *actionEnglish_Manual = nullptr;
    QAction *action2_3 = nullptr;                // "About"
    QAction *actioncheck_for_updates = nullptr;  // "Check for Update"

    QMenu *menuFile = nullptr;
    QMenu *menuEdit = nullptr;
    QMenu *menuSetting = nullptr;
    QMenu *menuEmulator = nullptr;
    QMenu *menuHelp = nullptr;
    QMenu *menuUser_Manual = nullptr;
    QMenu *menuNaming = nullptr;

    // Gives the chosen naming entry the hook icon and the others none.
    void markNaming(QAction *chosen);
    // Position (0, 1, 2) of the checked naming entry, -1 when none is checked.
    int checkedNamingIndex() const;

signals:
    void autoUpdatesToggled(bool on);

public slots:
    void open_chinese_fpd();
    void open_english_fpd();

private:
    QIcon m_checkedIcon;
    QIcon m_uncheckedIcon;
};

}  // namespace vl
