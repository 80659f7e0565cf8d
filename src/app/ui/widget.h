#pragma once

// The editor window. It owns the rule table, the remark model, its form (editorform.h)
// and the plain classes that do the work: Read and Set (TableTransfer), the controller
// pass, the DMX channel aliases (AliasKeeper), the preview's forwarding; it connects
// them, asks the user's questions and shows the messages.

#include "editorform.h"

#include "common/core/scheduler.h"

#include <QByteArrayList>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QMessageBox;

namespace vl {

class About_Dialog;
class Abt_Dialog;
class AliasEditDialog;
class AliasKeeper;
class AliasStore;
class Bk_Tim_Dialog;
class ControllerPass;
class cof_Dialog;
class EditHistory;
class PortListUpdater;
class PreviewForwarder;
class PreviewSink;
class SerialPort;
class SoftwareUpdater;
class TableTransfer;
class light_Form;
class sleep_time_Dialog;
class upgrade_Dialog;
struct TransferFailure;
struct WorkbookHooks;
enum class TransferKind;

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
    MyTableView *tableView() const { return ui.tableView; }
    MyTableView2 *tableView_2() const { return ui.tableView_2; }
    MainWindow *menuBarWindow() const { return ui.menu; }
    CombinedDelegate *ruleDelegate() const { return ui.delegate; }
    About_Dialog *aboutDialog() const { return m_about; }
    // Null for an editor built with a preview of its own.
    light_Form *lightForm() const { return m_lightForm.get(); }
    // What the editor tells the preview: the window, unless a test attached another.
    PreviewSink *preview() const { return m_preview; }
    void setPreview(PreviewSink *preview);
    PreviewForwarder *previewForwarder() const { return m_forwarder; }
    bool refreshPending() const;  // the preview's refresh countdown
    // The coefficient the preview uses: 0.0 while no coefficient is chosen.
    double currentCoefficient() const;
    bool autoUpdates() const { return m_autoUpdates; }
    int cnum() const;
    QString noteName(int n) const;
    // The 100 ms tick: the firmware dialog's port list, then the controller pass.
    Timer *tickTimer() const { return m_tick; }
    // Undo and Redo of every change of the rules, the remarks and the aliases.
    EditHistory *editHistory() const { return m_history; }
    AliasKeeper *aliasKeeper() const { return m_aliases; }
    AliasStore *aliasStore() const;
    Timer *aliasLabelTimer() const;
    AliasEditDialog *aliasDialog() const { return m_aliasDialog; }

    // Empties columns 1 … 9 and the remarks of every row; rows and "SN" stay.
    void clearAllRules();
    // Empties the first `count` remarks and shows the remarks beside the rules.
    void resetRemarkColumn(int count);
    // Sets the remarks from "alias<row>=<text>" lines.
    void applyRemarkLines(const QByteArray &text);

signals:
    void cnum_change(int cnum);
    void send_combin(int num);
    // Every row of a table read from the box is in.
    void table_change();

public slots:
    void on_clearButton_clicked();
    // "New Table": 3072 numbered empty rules, after the unsaved-changes question.
    void newTable();
    void on_pushButton_3_clicked() {}
    void on_pushButton_4_clicked();
    void exit_midi();
    void update_light_data();
    void change_c345(QAction *action);
    void normalizeControllerTexts();  // the controller pass over the whole table
    void onDataChanged55();           // after a Read: a preview reload with "Auto-Updates"
    void rec_mp(double num);
    void startrow_rec(int row);
    void startrow_rec2(int strow, int endrow);
    void show_ab_dlg_Dialog();
    void changmarkname();
    void updateAliases();  // the open DMX editors' labels
    void updatalightdata2();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct PreviewChoice {
        bool ownWindow;
        PreviewSink *sink;
    };
    Widget(PreviewChoice preview, QWidget *parent);
    void tableTick();
    void connectMenu();
    void applyNaming(int cnum);
    void restoreNaming();
    void setupEditHistory();
    // With unsaved changes, asks whether to save them first: false when the user cancels
    // (or the save fails) and what was asked for must not happen.
    bool maybeSaveChanges();
    // Asks with Ok and Cancel, in a box without parent; true on Ok.
    static bool confirmed(const QString &title, const QString &text);

    EditorForm ui;
    RuleModel *m_rules = nullptr;
    RemarkModel *m_remarks = nullptr;
    About_Dialog *m_about = nullptr;
    std::unique_ptr<light_Form> m_lightForm;
    PreviewSink *m_preview = nullptr;
    PreviewForwarder *m_forwarder = nullptr;
    ControllerPass *m_pass = nullptr;
    AliasKeeper *m_aliases = nullptr;
    AliasEditDialog *m_aliasDialog = nullptr;
    bool m_autoUpdates = true;
    Timer *m_tick = nullptr;
    EditHistory *m_history = nullptr;
    bool m_closeAnswered = false;  // the unsaved-changes question was answered for this close
    SoftwareUpdater *m_updater = nullptr;

    // Device link: the port list, Connect, Read, Set and the device settings (widget_device.cpp)
public:
    SerialPort *serialPort() const { return m_serial; }
    PortListUpdater *portListUpdater() const { return m_portLists; }  // the list beside Connect
    QMessageBox *busyBox() const;                                     // while Set waits for the box
    Bk_Tim_Dialog *bkTimDialog() const { return m_bkTimDialog; }
    Abt_Dialog *abtDialog() const { return m_abtDialog; }
    cof_Dialog *cofDialog() const { return m_cofDialog; }
    sleep_time_Dialog *sleepTimeDialog() const { return m_sleepTimeDialog; }
    upgrade_Dialog *upgradeDialog() const { return m_upgradeDialog; }
    // Set's checks and questions before anything is sent; mode 1 then writes the image.
    // 0: refused or a write failed, 1: written, 2: built, not written (mode 2).
    int sendConfigurationImage(int mode);
public slots:
    void on_connectButton_clicked();
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void updateConnectUi();
    void is_open(bool sure);
    // An upload from the box; `damage` (see BoxConversation::tableUploaded) is said after.
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
    void reportRead(TransferKind kind, const QString &damage);
    void reportFailure(const TransferFailure &failure);
    SerialPort *m_serial = nullptr;
    TableTransfer *m_transfer = nullptr;
    PortListUpdater *m_portLists = nullptr;
    Bk_Tim_Dialog *m_bkTimDialog = nullptr;
    Abt_Dialog *m_abtDialog = nullptr;
    cof_Dialog *m_cofDialog = nullptr;
    sleep_time_Dialog *m_sleepTimeDialog = nullptr;
    upgrade_Dialog *m_upgradeDialog = nullptr;

    // Workbooks: "Open File", "Save File", "Save File As..." (widget_files.cpp)
public:
    // Opens a workbook named on the command line as "Open File" opens the chosen one.
    void openWorkbookFile(const QString &path);
    // The workbook last opened or saved; empty when there was none.
    QString workbookPath() const { return m_workbookPath; }
public slots:
    void open_midi_file();
    void save_As_file();
    // Asks for a name (proposing the workbook last opened or saved) and saves; true when
    // the table was saved.
    bool saveWorkbook();

private:
    WorkbookHooks workbookHooks();
    // Runs `open` (which returns the workbook it loaded, or an empty string) as the step
    // "Open File"; a loaded workbook is the table's clean state and the one Save proposes.
    void openAsOneStep(const std::function<QString()> &open);
    QString m_workbookPath;

public:
    SoftwareUpdater *softwareUpdater() const { return m_updater; }
};

}  // namespace vl
