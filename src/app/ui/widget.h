#pragma once

// The editor window. It owns the rule table, the remark model, the views, the menu bar
// and everything the device, file and preview commands need, and keeps the light preview
// in step with the table.

#include "common/core/scheduler.h"

#include <QByteArrayList>
#include <QModelIndex>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QStandardItem;
class QVBoxLayout;

namespace vl {

class About_Dialog;
class Abt_Dialog;
class AliasEditDialog;
class AliasStore;
class Bk_Tim_Dialog;
class ChangedRows;
class CombinedDelegate;
class cof_Dialog;
class CustomLabel;
class EditHistory;
class MainWindow;
class MyTableView;
class MyTableView2;
class PortListUpdater;
class PreviewForwarder;
class PreviewSink;
class RemarkModel;
class RuleModel;
class SerialPort;
class SharedFocusFilter;
class light_Form;
class SoftwareUpdater;
struct WorkbookHooks;
class sleep_time_Dialog;
class upgrade_Dialog;

class Widget : public QWidget {
    Q_OBJECT
public:
    // The editor with its light preview window, created hidden.
    explicit Widget(QWidget *parent = nullptr);
    // The editor without a preview window of its own: what it would tell the window goes to
    // `preview` (not owned; may be null for none). For hosts and tests that bring their own.
    explicit Widget(PreviewSink *preview, QWidget *parent = nullptr);
    ~Widget() override;

    RuleModel *ruleModel() const { return m_rules; }
    RemarkModel *remarkModel() const { return m_remarks; }
    MyTableView *tableView() const { return m_tableView; }
    MyTableView2 *tableView_2() const { return m_tableView2; }
    MainWindow *menuBarWindow() const { return m_menu; }
    About_Dialog *aboutDialog() const { return m_about; }

    // The light preview window, created hidden with the editor; null for an editor built
    // with a preview of its own.
    light_Form *lightForm() const { return m_lightForm.get(); }
    // What the editor tells the preview: the window, unless a test attached another. Not owned.
    PreviewSink *preview() const { return m_preview; }
    void setPreview(PreviewSink *preview);
    // Keeps the preview in step with the rule table and the remarks.
    PreviewForwarder *previewForwarder() const { return m_forwarder; }

    int cnum() const { return m_cnum; }
    QString noteName(int n) const;
    bool autoUpdates() const { return m_autoUpdates; }
    // The coefficient the preview uses: 0.0 while no coefficient is chosen.
    double currentCoefficient() const;
    // Whether the preview's refresh countdown is running.
    bool refreshPending() const;
    // The 100 ms tick: the controller-text pass.
    Timer *tickTimer() const { return m_tick; }

    // Undo and Redo of every change of the rules, the remarks and the aliases.
    EditHistory *editHistory() const { return m_history; }
    // The workbook last opened or saved; empty when there was none.
    QString workbookPath() const { return m_workbookPath; }

    // Empties columns 1 … 9 and the remarks of every row; rows and "SN" stay.
    void clearAllRules();
    // Empties the first `count` remarks and attaches the remark model to its view.
    void resetRemarkColumn(int count);
    // Sets the remarks from "alias<row>=<text>" lines.
    void applyRemarkLines(const QByteArray &text);

signals:
    void cnum_change(int cnum);
    void send_combin(int num);
    void table_change();

public slots:
    void on_clearButton_clicked();
    // "New Table": 3072 numbered empty rules, after the unsaved-changes question.
    void newTable();
    void on_pushButton_3_clicked();
    void on_pushButton_4_clicked();
    void exit_midi();
    void update_light_data();
    void change_c345(QAction *action);
    // The controller pass over the whole table, then the open controller editors.
    void normalizeControllerTexts();
    // The 100 ms tick: the pass when the table or the naming changed since the last one,
    // the open controller editors always.
    void controllerTick();
    // The preview's side of rule and remark changes is PreviewForwarder's, which listens to
    // the models itself; these hand over to it.
    void onDataChanged33(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles);
    void handleDataChanged();
    void onDataChanged333(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles);
    // After a read from the box: the preview reloads when "Auto-Updates" is on.
    void onDataChanged55();
    void updateTableDataSlot(int row, int col, const QString &changedString);
    void rec_mp(double num);
    void startrow_rec(int row);
    void startrow_rec2(int strow, int endrow);
    void show_ab_dlg_Dialog();

    // Rule view editors and DMX channel aliases (bodies in widget_aliases.cpp).
public:
    // The DMX channel alias list; the alias dialog edits it.
    AliasStore *aliasStore() const { return m_aliasStore; }
    AliasEditDialog *aliasDialog() const { return m_aliasDialog; }
    CombinedDelegate *ruleDelegate() const { return m_delegate; }
    Timer *aliasLabelTimer() const { return m_aliasTimer; }
    // Reads "./Aliases.txt" (created empty when missing) and starts the alias label timer.
    void loadAliasFile();
    // Writes the alias list to "./Aliases.txt".
    void saveAliasFile();
    // Brings every DMX cell into its alias form.
    void relabelDmxCells();
    // Before a read from the box: the label timer stops and the list becomes 1024 empty aliases.
    void prepareAliasesForRead();
    // After a read from the box: the list is saved, the label timer restarts, cells are relabelled.
    void finishAliasesAfterRead();
public slots:
    void changmarkname();
    void updateAliases();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static constexpr int kAliasTimerMs = 100;
    bool writeAliasList();
    AliasStore *m_aliasStore = nullptr;
    AliasEditDialog *m_aliasDialog = nullptr;
    CombinedDelegate *m_delegate = nullptr;
    SharedFocusFilter *m_focusFilter = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildLayout();
    void buildTitleRows(QVBoxLayout *top);
    void tableTick();
    void connectMenu();
    void applyNaming(int cnum);
    void restoreNaming();
    void attachRemarkView();
    void setupEditHistory();
    void showModified(bool modified);
    // With unsaved changes, asks whether to save them first: false when the user cancels
    // (or the save fails) and what was asked for must not happen.
    bool maybeSaveChanges();

    struct PreviewChoice {
        bool ownWindow;
        PreviewSink *sink;
    };
    Widget(PreviewChoice preview, QWidget *parent);

    int m_cnum = 2;
    RuleModel *m_rules = nullptr;
    RemarkModel *m_remarks = nullptr;
    MainWindow *m_menu = nullptr;
    MyTableView *m_tableView = nullptr;
    MyTableView2 *m_tableView2 = nullptr;
    About_Dialog *m_about = nullptr;
    std::unique_ptr<light_Form> m_lightForm;
    PreviewSink *m_preview = nullptr;
    PreviewForwarder *m_forwarder = nullptr;

    QLabel *m_tipLabel = nullptr;
    QComboBox *m_portList = nullptr;
    QPushButton *m_connectButton = nullptr;
    QPushButton *m_checkButton = nullptr;
    QPushButton *m_readButton = nullptr;
    QPushButton *m_setButton = nullptr;
    QPushButton *m_clearButton = nullptr;
    QPushButton *m_previewButton = nullptr;
    QPushButton *m_hiddenButton = nullptr;
    QList<QLabel *> m_groupLabels;
    QList<CustomLabel *> m_titleLabels;

    bool m_autoUpdates = true;
    Scheduler *m_scheduler = nullptr;  // the window's timers come from it
    Timer *m_tick = nullptr;
    ChangedRows *m_passRows = nullptr;  // rows changed since the last controller pass
    EditHistory *m_history = nullptr;
    bool m_closeAnswered = false;  // the unsaved-changes question was answered for this close
    Timer *m_aliasTimer = nullptr;

    // Device link: the port list, Connect, Read, Set and the device settings (widget_device.cpp)
public:
    SerialPort *serialPort() const { return m_serial; }
    // Keeps the port list beside Connect showing the maker's boxes.
    PortListUpdater *portListUpdater() const { return m_portLists; }
    // Shown while a table written by Set waits for the box's "download success".
    QMessageBox *busyBox() const { return m_busyBox.get(); }
    Bk_Tim_Dialog *bkTimDialog() const { return m_bkTimDialog; }
    Abt_Dialog *abtDialog() const { return m_abtDialog; }
    cof_Dialog *cofDialog() const { return m_cofDialog; }
    sleep_time_Dialog *sleepTimeDialog() const { return m_sleepTimeDialog; }
    upgrade_Dialog *upgradeDialog() const { return m_upgradeDialog; }
    // Builds the table image; mode 1 also checks the rules and writes the image to the box.
    // 0: refused or a write failed, 1: written, 2: built, not written.
    int sendConfigurationImage(int mode);
    // Inserts row `row` decoded from one 8-byte record (queued).
    void decodeRuleRecord(int row, const QByteArray &record);
public slots:
    void on_connectButton_clicked();
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void updateConnectUi();
    void is_open(bool sure);
    // `damage` (see BoxConversation::tableUploaded) is said after the rows are loaded.
    void applyUploadedRows(const QByteArrayList &groupedData, const QString &damage = QString());
    void is_connect(int num);
    void show_Bk_Tim_Dialog();
    void show_Abt_Tim_Dialog();
    void show_Cof_Tim_Dialog();
    void show_sl_Tim_Dialog();
    void factory_Dialog();
    void show_ug_dlg_Dialog();
signals:
    void connect_bt();
    void connect_abt();
    void connect_cof();
    void connect_stt();

private:
    void setupSerialLink();
    void setupDeviceDialogs();
    bool linkIsOpen();
    void insertRowLater(int row, const QStringList &texts);
    void reportConfigured();
    void reportLineLost();
    void reportNoAnswer();
    // A Read that failed gives the table, the remarks and the aliases back as they were.
    void restoreBeforeRead();
    // What Read emptied, kept until its table has arrived.
    struct ReadBackup {
        QList<QList<QStandardItem *>> rows;  // owned until given back to the table
        QStringList remarks;
        QStringList aliases;
        ~ReadBackup();
    };
    std::unique_ptr<ReadBackup> m_readBackup;
    bool m_setPending = false;  // Set waits for "download success"
    SerialPort *m_serial = nullptr;
    PortListUpdater *m_portLists = nullptr;
    std::unique_ptr<QMessageBox> m_busyBox;
    Bk_Tim_Dialog *m_bkTimDialog = nullptr;
    Abt_Dialog *m_abtDialog = nullptr;
    cof_Dialog *m_cofDialog = nullptr;
    sleep_time_Dialog *m_sleepTimeDialog = nullptr;
    upgrade_Dialog *m_upgradeDialog = nullptr;
    int m_tableGeneration = 0;  // counts every emptying of the table; stale row inserts are dropped
    int m_rowsPending = 0;      // decoded rows queued for insertion

    // Workbooks: "Open File", "Save File", "Save File As..." (widget_files.cpp)
public slots:
    void open_midi_file();
    void save_As_file();
    // Asks for a name (proposing the workbook last opened or saved) and saves; true when
    // the table was saved.
    bool saveWorkbook();

public:
    // Opens a workbook named on the command line as "Open File" opens the chosen one.
    void openWorkbookFile(const QString &path);

private:
    WorkbookHooks workbookHooks();
    void connectWorkbookMenu();
    // Runs `open` (which returns the workbook it loaded, or an empty string) as the step
    // "Open File"; a loaded workbook is the table's clean state and the one Save proposes.
    void openAsOneStep(const std::function<QString()> &open);
    QString m_workbookPath;

    // Software update: the check at start-up and "Check for Update" (widget_update.cpp)
public:
    SoftwareUpdater *softwareUpdater() const { return m_updater; }
public slots:
    void updatalightdata2();

private:
    void startSoftwareUpdate();
    SoftwareUpdater *m_updater = nullptr;
};

}  // namespace vl
