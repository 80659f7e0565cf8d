#include "widget.h"

#include "aboutdialog.h"
#include "app/core/preferences.h"
#include "mainwindow.h"

#include "common/ui/dialogs.h"
#include "device/core/boxconversation.h"
#include "device/core/tabletransfer.h"
#include "firmware/ui/upgradedialog.h"
#include "preview/core/previewforwarder.h"
#include "preview/core/previewsink.h"
#include "preview/ui/lightform.h"
#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/controllerpass.h"
#include "table/core/notenames.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"
#include "table/ui/aliaseditdialog.h"
#include "table/ui/delegates.h"
#include "table/ui/edithistory.h"
#include "table/ui/tableviews.h"
#include "update/ui/softwareupdater.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QPainter>
#include <QPushButton>

namespace vl {

Widget::Widget(QWidget *parent) : Widget(PreviewChoice{true, nullptr}, parent) {}

Widget::Widget(PreviewSink *preview, QWidget *parent) : Widget(PreviewChoice{false, preview}, parent) {}

Widget::Widget(PreviewChoice preview, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Widget"));

    // The rule table and the controller pass, under middle C named C4 until the stored
    // naming is restored at the end; the form and the aliases with their dialog. The
    // buttons' on_<object>_<signal> slots are bound while only the window's own widgets exist.
    m_rules = new RuleModel(this);
    m_pass = new ControllerPass(*m_rules, this);
    ui.setupUi(this);
    m_aliases = new AliasKeeper(*m_rules, this);
    m_aliasDialog = new AliasEditDialog(m_aliases->store(), this);
    QMetaObject::connectSlotsByName(this);

    // The rule view with its delegate, both following the naming; the remarks beside the
    // rules. Changes of both models reach the preview.
    ui.showRules(m_rules, m_aliases->store());
    connect(this, &Widget::cnum_change, ui.tableView, &MyTableView::setCnum);
    connect(this, &Widget::cnum_change, ui.delegate, &CombinedDelegate::setCnum);
    m_remarks = new RemarkModel(this);
    ui.tableView->setRemarkModel(m_remarks);
    m_forwarder = new PreviewForwarder(m_rules, m_remarks, this);
    m_forwarder->setCoefficientSource([this] { return currentCoefficient(); });

    // The light preview, hidden until "test" or Emulator → "Open" shows it, with both
    // models; the naming of middle C relabels its keys.
    if (preview.ownWindow) {
        m_lightForm = std::make_unique<light_Form>();
        m_lightForm->setRuleModel(m_rules);
        m_lightForm->setRemarkModel(m_remarks);
        setPreview(m_lightForm.get());
        connect(this, &Widget::send_combin, m_lightForm.get(), &light_Form::rec_combin);
    } else {
        setPreview(preview.sink);
    }

    // Whether finished reads and remark edits reload the preview ("Auto-Updates").
    m_autoUpdates = Preferences::autoUpdates();
    m_forwarder->setRemarksForwarded(m_autoUpdates);
    ui.menu->actionAuto_Updates->setCheckable(true);
    ui.menu->actionAuto_Updates->setChecked(m_autoUpdates);

    // The 100 ms table tick and the alias label timer; icon and title.
    m_tick = scheduler().createTimer(this);
    connect(m_tick, &Timer::timeout, this, &Widget::tableTick);
    m_tick->start(100);
    connect(aliasLabelTimer(), &Timer::timeout, this, &Widget::updateAliases);
    connect(m_aliases, &AliasKeeper::problem, this,
            [](const QString &text) { critical(nullptr, QStringLiteral("Error"), text); });
    setWindowIcon(QIcon(QStringLiteral(":/IMG/kvr.png")));
    setWindowTitle(QStringLiteral("Varilume"));

    // The serial link (its port scan starts at once) with Read and Set; row insertions and
    // deletions reach the preview; the device dialogs and the about box, made once.
    setupSerialLink();
    connect(ui.tableView, &MyTableView::send_startrow, this, &Widget::startrow_rec);
    connect(ui.tableView, &MyTableView::send_start_ad_strow, this, &Widget::startrow_rec2);
    setupDeviceDialogs();
    m_about = new About_Dialog(this);

    // A finished read reloads the preview; the menu entries; only one of the two views
    // shows a selection.
    connect(this, &Widget::table_change, this, &Widget::onDataChanged55);
    connectMenu();
    auto *focusFilter = new SharedFocusFilter(ui.tableView, ui.tableView_2, this);
    ui.tableView->installEventFilter(focusFilter);
    ui.tableView_2->installEventFilter(focusFilter);

    // The aliases from "./Aliases.txt", then the stored naming, which relabels everything
    // built above. The edit history starts with the table as it is now, which counts as
    // saved; the check for a newer editor never waits for the network.
    m_aliases->load();
    ui.pushButton_4->show();
    restoreNaming();
    setupEditHistory();
    m_updater = new SoftwareUpdater(this);
    m_updater->startupCheck(m_about->version());
}

Widget::~Widget() = default;

void Widget::setupEditHistory()
{
    m_history = new EditHistory(m_rules, m_remarks, m_aliases->store(), this);
    m_pass->setSteps(m_history);
    m_aliases->setSteps(m_history);
    m_transfer->setSteps(m_history);
    ui.tableView->setEditHistory(m_history);
    ui.tableView_2->setEditHistory(m_history);
    m_history->bindActions(ui.menu->actionUndo, ui.menu->actionRedo);
    // Text copied in another program is checked as Set checks the rules.
    ui.tableView->setPasteCheck([](int row, int column, const QString &text) {
        return text.isEmpty() || isValidRuleText(column, text) ? QString() : invalidRuleText({row, column, text});
    });
    // Aliases given back by Undo or Redo are kept in "./Aliases.txt" as the alias dialog
    // keeps them; the DMX cells show the aliases after every step.
    m_history->setStepApplied([this](bool aliasesChanged) {
        if (aliasesChanged)
            m_aliases->save();
        m_aliases->relabelCells();
    });
    // Undoing inserted rows deletes them again, in the preview's fixtures too, and so on.
    m_history->setRowsShifted([this](int first, int last, bool inserted) {
        if (!inserted)
            startrow_rec2(first, last);
        for (int row = first; inserted && row <= last; ++row)
            startrow_rec(row);
    });
    connect(m_history, &EditHistory::modifiedChanged, this, [this](bool modified) {
        setWindowTitle(modified ? QStringLiteral("Varilume*") : QStringLiteral("Varilume"));
    });
}

bool Widget::maybeSaveChanges()
{
    if (!m_history || !m_history->isModified())
        return true;
    const auto answer = question(
        this, QStringLiteral("Varilume"),
        QStringLiteral("The rule table has changes that are not saved.\nDo you want to save them?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    return answer == QMessageBox::Save ? saveWorkbook() : answer == QMessageBox::Discard;
}

void Widget::newTable()
{
    if (!maybeSaveChanges())
        return;
    {
        const EditHistory::Step step(m_history, QStringLiteral("New Table"));
        newRuleTable(*m_rules, *m_remarks);
        ui.showRemarks(m_remarks);
    }
    // A later save proposes a new name rather than the workbook this table did not come from.
    m_workbookPath.clear();
}

// Every 100 ms: the firmware dialog's port list, visible or not, then the controller pass
// over the rows changed since the last one, then the open controller editors.
void Widget::tableTick()
{
    if (m_upgradeDialog)
        m_upgradeDialog->refreshUpgradePorts();
    m_pass->run();
    ui.delegate->relabelControllerEditors();
}

void Widget::normalizeControllerTexts()
{
    m_pass->runOverAll();
    ui.delegate->relabelControllerEditors();
}

void Widget::connectMenu()
{
    MainWindow *menu = ui.menu;
    connect(menu->action1, &QAction::triggered, this, &Widget::open_midi_file);
    // "Save File" asks too, like "Save File As...", proposing the workbook last opened or saved.
    connect(menu->action2, &QAction::triggered, this, &Widget::save_As_file);
    connect(menu->action3, &QAction::triggered, this, &Widget::save_As_file);
    connect(menu->action4, &QAction::triggered, this, &Widget::exit_midi);
    connect(menu->actionNew, &QAction::triggered, this, &Widget::newTable);
    connect(menu->namingGroup, &QActionGroup::triggered, this, &Widget::change_c345);
    connect(menu->actionOpen, &QAction::triggered, this, &Widget::on_pushButton_4_clicked);
    connect(menu->actionUpdate, &QAction::triggered, this, &Widget::update_light_data);
    connect(menu, &MainWindow::autoUpdatesToggled, this, [this](bool on) {
        m_autoUpdates = on;
        m_forwarder->setRemarksForwarded(on);
        Preferences::setAutoUpdates(on);
    });
    connect(menu->action2_3, &QAction::triggered, this, &Widget::show_ab_dlg_Dialog);
    connect(menu->actionDmx_Rname, &QAction::triggered, this, &Widget::changmarkname);
    connect(menu->actioncheck_for_updates, &QAction::triggered, this, &Widget::updatalightdata2);
}

void Widget::setPreview(PreviewSink *preview)
{
    m_preview = preview;
    m_forwarder->setSink(preview);
    if (m_preview)
        m_preview->setNaming(cnum());
}

int Widget::cnum() const { return m_pass->naming(); }

QString Widget::noteName(int n) const { return NoteNames::name(n, cnum()); }

void Widget::clearAllRules() { vl::clearAllRules(*m_rules, *m_remarks); }

void Widget::resetRemarkColumn(int count)
{
    resetRemarks(*m_remarks, count);
    ui.showRemarks(m_remarks);
}

void Widget::applyRemarkLines(const QByteArray &text)
{
    // One remark beside every rule, however many rules a workbook brought.
    m_remarks->setRowCount(qMax(kRuleRows, m_rules->rowCount()));
    vl::applyRemarkLines(*m_remarks, text);
    ui.showRemarks(m_remarks);
}

void Widget::applyNaming(int cnum)
{
    m_pass->setNaming(cnum);
    m_transfer->setNaming(cnum);
    ui.tableView->setCnum(cnum);
    emit send_combin(cnum);
    emit cnum_change(cnum);
    if (m_preview)
        m_preview->setNaming(cnum);
}

void Widget::change_c345(QAction *action)
{
    ui.menu->markNaming(action);
    applyNaming(action == ui.menu->actionC3 ? 1 : action == ui.menu->actionC5 ? 3 : 2);
    m_pass->renameNotes();
    Preferences::setSelectedActionIndex(ui.menu->checkedNamingIndex());
}

void Widget::restoreNaming()
{
    const int index = Preferences::selectedActionIndex();
    const QList<QAction *> entries = ui.menu->namingGroup->actions();
    if (index < 0 || index >= entries.size()) {
        emit send_combin(cnum());
        return;
    }
    entries[index]->setChecked(true);
    ui.menu->markNaming(entries[index]);
    applyNaming(index + 1);
}

bool Widget::refreshPending() const { return m_forwarder->refreshPending(); }

void Widget::onDataChanged55()
{
    if (m_autoUpdates)
        m_forwarder->reload();
}

void Widget::on_pushButton_4_clicked() { m_forwarder->reload(true); }

void Widget::update_light_data() { m_forwarder->reload(); }

void Widget::rec_mp(double num)
{
    if (m_preview)
        m_preview->setCoefficient(num);
}

void Widget::startrow_rec(int row)
{
    if (m_preview)
        m_preview->ruleRowInserted(row + 1);
}

void Widget::startrow_rec2(int strow, int endrow)
{
    if (m_preview)
        m_preview->ruleRowsDeleted(strow, endrow);
}

void Widget::show_ab_dlg_Dialog() { m_about->show(); }

// "Check for Update" compares against the about box's version, as the start-up check does.
void Widget::updatalightdata2() { m_updater->manualCheck(m_about->version()); }

bool Widget::confirmed(const QString &title, const QString &text)
{
    return question(nullptr, title, text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void Widget::on_clearButton_clicked()
{
    if (!confirmed(QStringLiteral(" "), QStringLiteral("Clear current configuration？")))
        return;
    // Clear once the click has been handled completely.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const EditHistory::Step step(m_history, QStringLiteral("Clear"));
            clearAllRules();
        },
        Qt::QueuedConnection);
}

void Widget::exit_midi()
{
    // With unsaved changes the close asks its own question, and only that one.
    if ((m_history && m_history->isModified()) || confirmed(QStringLiteral(" "), QStringLiteral("Exit software?")))
        close();
}

void Widget::closeEvent(QCloseEvent *event)
{
    // However the window is closed, unsaved changes are asked about once.
    if (!m_closeAnswered && !maybeSaveChanges()) {
        event->ignore();
        return;
    }
    m_closeAnswered = true;
    if (m_preview)
        m_preview->close();
    if (m_lightForm && m_preview != m_lightForm.get())
        m_lightForm->close();
    event->accept();
}

void Widget::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(0, 0, width(), 21), QColor(QStringLiteral("#B5B5B5")));
}

}  // namespace vl
