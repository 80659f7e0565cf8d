#include "widget.h"

#include "aboutdialog.h"
#include "customlabel.h"
#include "mainwindow.h"
#include "app/core/preferences.h"

#include "common/ui/dialogs.h"
#include "common/core/scheduler.h"
#include "device/core/boxconversation.h"
#include "device/core/tableimage.h"
#include "firmware/ui/upgradedialog.h"
#include "preview/ui/lightform.h"
#include "preview/core/previewforwarder.h"
#include "preview/core/previewsink.h"
#include "table/ui/aliaseditdialog.h"
#include "table/core/aliasstore.h"
#include "table/core/changedrows.h"
#include "table/ui/delegates.h"
#include "table/ui/edithistory.h"
#include "table/core/notenames.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"
#include "table/ui/tableviews.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpacerItem>
#include <QUndoStack>
#include <QVBoxLayout>

namespace vl {

namespace {

constexpr int kTickMs = 100;
constexpr int kTooltipMs = 30000;

const char *const kOrange = "#f8b72d";

struct Title {
    const char *text;
    const char *tooltip;  // nullptr: none
};

// Column titles above the rule view and the remark view, left to right.
const Title kTitles[] = {
    {"SN", "The sequence number indicates how many rows of conversions there are for the current product."},
    {"DMX Channels", "Select DMX channel,DMX 1 port = 1~512,DMX 2 port = 513~1024"},
    {"Status", "Set the status of MIDI messages,support Note/CC/After touch."},
    {"Controller", "Select MIDI CC controller or note number."},
    {"Channel", "Set MIDI channel for MIDI messages."},
    {"Fixed Value", "When the fixed value is set, DMX will output the fixed value without following the "
                    "conversion formula."},
    {"Fade In", nullptr},
    {"Fade Out", "After the fade-out function is turned on, \nwhen the DMX channel output is turned off, \nthe "
                 "DMX value gradually decreases to 0."},
    {"Toggle", "After turning on the toggle function, \nthe DMX output will be turned on when the MIDI value is "
               "received for the first time, \nand the DMX output will be turned off when the MIDI value is "
               "received for the second time."},
    {"Enable", "Enable this MIDI to DMX conversion"},
    {"Remark", nullptr},
};

QPushButton *makeButton(QWidget *parent, const char *objectName, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(objectName));
    return button;
}

QLabel *makeLabel(QWidget *parent, const char *objectName)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    return label;
}

}  // namespace

Widget::Widget(QWidget *parent) : Widget(PreviewChoice{true, nullptr}, parent) {}

Widget::Widget(PreviewSink *preview, QWidget *parent) : Widget(PreviewChoice{false, preview}, parent) {}

Widget::Widget(PreviewChoice preview, QWidget *parent) : QWidget(parent), m_scheduler(&scheduler())
{
    setObjectName(QStringLiteral("Widget"));

    // Middle C named C4 until the stored naming is restored at the end; the rule table. The
    // note-name tables are built on first use.
    m_cnum = 2;
    m_rules = new RuleModel(this);
    NoteNames::name(0, m_cnum);

    // Child widgets and the alias dialog.
    buildLayout();
    m_aliasStore = new AliasStore(this);
    m_aliasDialog = new AliasEditDialog(m_aliasStore, this);
    // The buttons' on_<object>_<signal> slots, bound while only the window's own widgets exist.
    QMetaObject::connectSlotsByName(this);

    // The rule view: the table as its model, its delegate, and the naming it follows.
    m_tableView->setAliasSource(m_aliasStore);
    m_tableView->setModel(m_rules);
    m_rules->restoreLabels();
    m_tableView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_tableView->verticalHeader()->hide();
    connect(this, &Widget::cnum_change, m_tableView, &MyTableView::setCnum);
    m_delegate = new CombinedDelegate(m_tableView);
    m_tableView->setItemDelegate(m_delegate);
    connect(this, &Widget::cnum_change, m_delegate, &CombinedDelegate::setCnum);

    // The remarks beside the rules; changes of both models reach the preview.
    m_remarks = new RemarkModel(this);
    m_tableView->setRemarkModel(m_remarks);
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
    m_menu->actionAuto_Updates->setCheckable(true);
    m_menu->actionAuto_Updates->setChecked(m_autoUpdates);

    // The table tick (the firmware dialog's port list, then the controller texts) and the
    // alias label timer; icon and title.
    m_tick = m_scheduler->createTimer(this);
    connect(m_tick, &Timer::timeout, this, &Widget::tableTick);
    // The tick's pass looks only at rows changed since the last pass, so a settled table
    // costs the idle editor nothing; the first pass looks at every row.
    m_passRows = new ChangedRows(m_rules, this);
    m_passRows->markAll();
    m_tick->start(kTickMs);
    m_aliasTimer = m_scheduler->createTimer(this);
    m_aliasTimer->setInterval(kTickMs);
    connect(m_aliasTimer, &Timer::timeout, this, &Widget::updateAliases);
    setWindowIcon(QIcon(QStringLiteral(":/IMG/kvr.png")));
    setWindowTitle(QStringLiteral("Varilume"));

    // The serial link (its port scan starts at once); row insertions and deletions reach the
    // preview.
    setupSerialLink();
    connect(m_tableView, &MyTableView::send_startrow, this, &Widget::startrow_rec);
    connect(m_tableView, &MyTableView::send_start_ad_strow, this, &Widget::startrow_rec2);

    // The device settings dialogs and the about box, created once and shown again.
    setupDeviceDialogs();
    m_about = new About_Dialog(this);

    // Buttons that stay hidden; a finished read reloads the preview.
    m_checkButton->hide();
    m_hiddenButton->hide();
    connect(this, &Widget::table_change, this, &Widget::onDataChanged55);

    // The menu entries.
    m_tableView->horizontalHeader()->hide();
    connectMenu();

    // Only one of the two views shows a selection.
    m_focusFilter = new SharedFocusFilter(m_tableView, m_tableView2, this);
    m_tableView->installEventFilter(m_focusFilter);
    m_tableView2->installEventFilter(m_focusFilter);

    // The DMX channel aliases from "./Aliases.txt"; the views need them from here on.
    loadAliasFile();

    // The stored naming, which relabels everything built above; then the check for a newer
    // editor, which never waits for the network.
    m_previewButton->show();
    restoreNaming();

    // The edit history starts with the table as it is now, which counts as saved.
    setupEditHistory();
    startSoftwareUpdate();
}

void Widget::setupEditHistory()
{
    m_history = new EditHistory(m_rules, m_remarks, m_aliasStore, this);
    m_tableView->setEditHistory(m_history);
    m_tableView2->setEditHistory(m_history);
    // Text copied in another program is checked as Set checks the rules.
    m_tableView->setPasteCheck([](int row, int column, const QString &text) {
        if (text.isEmpty() || isValidRuleText(column, text))
            return QString();
        return invalidRuleText({row, column, text});
    });
    // Aliases given back by Undo or Redo are kept in "./Aliases.txt" as the alias dialog
    // keeps them; the DMX cells show the aliases after every step.
    m_history->setStepApplied([this](bool aliasesChanged) {
        if (aliasesChanged)
            saveAliasFile();
        relabelDmxCells();
    });
    // Undoing inserted rows deletes them again, in the preview's fixtures too, and so on.
    m_history->setRowsShifted([this](int first, int last, bool inserted) {
        if (!inserted) {
            startrow_rec2(first, last);
            return;
        }
        for (int row = first; row <= last; ++row)
            startrow_rec(row);
    });
    connect(m_history, &EditHistory::modifiedChanged, this, &Widget::showModified);

    QUndoStack *stack = m_history->stack();
    const auto showSteps = [this, stack] {
        m_menu->actionUndo->setEnabled(stack->canUndo());
        m_menu->actionUndo->setText(stack->canUndo() ? QStringLiteral("&Undo %1").arg(stack->undoText())
                                                     : QStringLiteral("&Undo"));
        m_menu->actionRedo->setEnabled(stack->canRedo());
        m_menu->actionRedo->setText(stack->canRedo() ? QStringLiteral("&Redo %1").arg(stack->redoText())
                                                     : QStringLiteral("&Redo"));
    };
    // Every push, undo, redo and clear moves the index.
    connect(stack, &QUndoStack::indexChanged, this, showSteps);
    showSteps();
    connect(m_menu->actionUndo, &QAction::triggered, m_history, &EditHistory::undo);
    connect(m_menu->actionRedo, &QAction::triggered, m_history, &EditHistory::redo);
    connect(m_menu->actionNew, &QAction::triggered, this, &Widget::newTable);
}

void Widget::showModified(bool modified)
{
    setWindowTitle(modified ? QStringLiteral("Varilume*") : QStringLiteral("Varilume"));
}

bool Widget::maybeSaveChanges()
{
    if (!m_history || !m_history->isModified())
        return true;
    const auto answer = question(
        this, QStringLiteral("Varilume"),
        QStringLiteral("The rule table has changes that are not saved.\nDo you want to save them?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    if (answer == QMessageBox::Save)
        return saveWorkbook();
    return false;
}

void Widget::newTable()
{
    if (!maybeSaveChanges())
        return;
    {
        const EditHistory::Step step(m_history, QStringLiteral("New Table"));
        newRuleTable(*m_rules, *m_remarks);
        attachRemarkView();
    }
    // A later save proposes a new name rather than the workbook this table did not come from.
    m_workbookPath.clear();
}

Widget::~Widget() = default;

// Every 100 ms: the firmware dialog's port list, visible or not, then the controller pass.
void Widget::tableTick()
{
    if (m_upgradeDialog)
        m_upgradeDialog->refreshUpgradePorts();
    controllerTick();
}

void Widget::buildLayout()
{
    setWindowIcon(QIcon(QStringLiteral(":/IMG/icon.ico")));
    resize(1100, 526);
    setMinimumSize(955, 480);
    setStyleSheet(QStringLiteral("QWidget { font: 75 10pt \"Arial\"; }"
                                 "#Widget { background-color: rgb(79, 79, 79); }"
                                 "QComboBox { combobox-popup: 0; }"
                                 "QComboBox QAbstractItemView { max-height: 200px; }"));

    auto *top = new QVBoxLayout(this);
    top->setSpacing(6);
    top->setContentsMargins(top->contentsMargins().left(), 0, top->contentsMargins().right(),
                            top->contentsMargins().bottom());

    // The menu bar is the first row.
    m_menu = new MainWindow(this);
    m_menu->setWindowFlags(Qt::WindowFlags());  // a main window is always a window until told otherwise
    m_menu->setMaximumSize(3000, 20);
    top->addWidget(m_menu, 0);

    // Logo row.
    auto *logoRow = new QHBoxLayout;
    logoRow->setSpacing(0);
    logoRow->setContentsMargins(0, 9, 0, 0);
    m_tipLabel = makeLabel(this, "tiplabel");
    m_tipLabel->setMinimumWidth(120);
    logoRow->addWidget(m_tipLabel);
    logoRow->addStretch();
    QLabel *logo = makeLabel(this, "label_ico");
    logo->setFixedSize(155, 35);
    logo->setStyleSheet(QStringLiteral("image: url(:/IMG/KVR_Tool.png);"));
    logoRow->addWidget(logo);
    top->addLayout(logoRow);

    // Port row.
    auto *portRow = new QHBoxLayout;
    portRow->setSpacing(0);
    portRow->addWidget(makeLabel(this, "label_25"));
    m_portList = new QComboBox(this);
    m_portList->setObjectName(QStringLiteral("comboBox_ComDevices"));
    m_portList->setMinimumWidth(300);
    portRow->addWidget(m_portList);
    portRow->addWidget(makeLabel(this, "label_26"));
    m_connectButton = makeButton(this, "connectButton", QStringLiteral("Connect"));
    m_checkButton = makeButton(this, "checkButton", QStringLiteral("Check"));
    for (QPushButton *b : {m_connectButton, m_checkButton}) {
        b->setMinimumWidth(100);
        b->setMaximumWidth(125);
        portRow->addWidget(b);
    }
    portRow->addStretch();
    top->addLayout(portRow);

    buildTitleRows(top);

    // Table row.
    auto *tableRow = new QHBoxLayout;
    tableRow->setSpacing(0);
    m_tableView = new MyTableView(this);
    m_tableView2 = new MyTableView2(this);
    for (QTableView *view : {static_cast<QTableView *>(m_tableView), static_cast<QTableView *>(m_tableView2)})
        view->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    tableRow->addWidget(m_tableView, 10);
    tableRow->addWidget(m_tableView2, 1);
    top->addLayout(tableRow);

    // Button row.
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(0);
    m_readButton = makeButton(this, "pushButton", QStringLiteral("Read"));
    m_setButton = makeButton(this, "pushButton_2", QStringLiteral("Set"));
    m_clearButton = makeButton(this, "clearButton", QStringLiteral("Clear"));
    m_clearButton->setMinimumWidth(75);
    m_previewButton = makeButton(this, "pushButton_4", QStringLiteral("test"));
    m_hiddenButton = makeButton(this, "pushButton_3", QStringLiteral("test"));
    for (QPushButton *b : {m_readButton, m_setButton, m_clearButton, m_previewButton})
        buttonRow->addWidget(b);
    for (int i = 0; i < 11; ++i)
        buttonRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    buttonRow->addWidget(m_hiddenButton);
    top->addLayout(buttonRow);
}

void Widget::buildTitleRows(QVBoxLayout *top)
{
    const int columns = int(std::size(kTitles));

    // The orange "MIDI Message" band over Status, Controller and Channel.
    auto *groupRow = new QHBoxLayout;
    groupRow->setSpacing(0);
    groupRow->setContentsMargins(0, 0, 20, 0);
    for (int i = 0; i < columns; ++i) {
        auto *label = new QLabel(this);
        label->setObjectName(QStringLiteral("groupLabel_%1").arg(i));
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        m_groupLabels.append(label);
        groupRow->addWidget(label, 1);
    }
    auto *titles = new QVBoxLayout;  // the band sits right on the titles below it
    titles->setSpacing(0);
    titles->addLayout(groupRow);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(0);
    titleRow->setContentsMargins(0, 0, 20, 0);
    for (int i = 0; i < columns; ++i) {
        auto *label = new CustomLabel(QString::fromUtf8(kTitles[i].text), this);
        label->setObjectName(QStringLiteral("titleLabel_%1").arg(i));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        m_titleLabels.append(label);
        titleRow->addWidget(label, 1);
    }
    titles->addLayout(titleRow);
    top->addLayout(titles);

    // Styles and tooltips.
    m_groupLabels[ColSta]->setStyleSheet(
        QStringLiteral("QLabel { background-color: %1; border-top-left-radius:3px;}").arg(kOrange));
    m_groupLabels[ColCtl]->setStyleSheet(QStringLiteral("QLabel { background-color: %1;color:#F8F8FF;}").arg(kOrange));
    m_groupLabels[ColCtl]->setText(QStringLiteral("MIDI Message"));
    m_groupLabels[ColCtl]->setAlignment(Qt::AlignCenter);
    m_groupLabels[ColCh]->setStyleSheet(
        QStringLiteral("QLabel { background-color:  %1; border-top-right-radius:3px}").arg(kOrange));

    for (int i = 0; i < columns; ++i) {
        CustomLabel *label = m_titleLabels[i];
        QString style = QStringLiteral("QLabel { color: #F8F8FF;");
        if (i == ColSta)
            style += QStringLiteral(" background-color: %1; border-bottom-left-radius: 3px;").arg(kOrange);
        else if (i == ColCtl)
            style += QStringLiteral(" background-color: %1;").arg(kOrange);
        else if (i == ColCh)
            style += QStringLiteral(" background-color: %1; border-bottom-right-radius: 3px;").arg(kOrange);
        label->setStyleSheet(style + QStringLiteral(" }"));
        if (kTitles[i].tooltip) {
            label->setToolTip(QString::fromUtf8(kTitles[i].tooltip));
            if (i != ColSn)
                label->setToolTipDuration(kTooltipMs);
        }
    }
}

void Widget::connectMenu()
{
    connectWorkbookMenu();
    connect(m_menu->action4, &QAction::triggered, this, &Widget::exit_midi);
    connect(m_menu->namingGroup, &QActionGroup::triggered, this, &Widget::change_c345);
    connect(m_menu->actionOpen, &QAction::triggered, this, &Widget::on_pushButton_4_clicked);
    connect(m_menu->actionUpdate, &QAction::triggered, this, &Widget::update_light_data);
    connect(m_menu, &MainWindow::autoUpdatesToggled, this, [this](bool on) {
        m_autoUpdates = on;
        m_forwarder->setRemarksForwarded(on);
        Preferences::setAutoUpdates(on);
    });
    connect(m_menu->action2_3, &QAction::triggered, this, &Widget::show_ab_dlg_Dialog);
    connect(m_menu->actionDmx_Rname, &QAction::triggered, this, &Widget::changmarkname);
    connect(m_menu->actioncheck_for_updates, &QAction::triggered, this, &Widget::updatalightdata2);
}

void Widget::setPreview(PreviewSink *preview)
{
    m_preview = preview;
    m_forwarder->setSink(preview);
    if (m_preview)
        m_preview->setNaming(m_cnum);
}

QString Widget::noteName(int n) const { return NoteNames::name(n, m_cnum); }

void Widget::clearAllRules() { vl::clearAllRules(*m_rules, *m_remarks); }

void Widget::resetRemarkColumn(int count)
{
    resetRemarks(*m_remarks, count);
    attachRemarkView();
}

void Widget::applyRemarkLines(const QByteArray &text)
{
    // One remark beside every rule, however many rules a workbook brought.
    m_remarks->setRowCount(qMax(kRuleRows, m_rules->rowCount()));
    vl::applyRemarkLines(*m_remarks, text);
    attachRemarkView();
}

void Widget::attachRemarkView()
{
    m_tableView2->setModel(m_remarks);
    if (!qobject_cast<KepItemDelegate *>(m_tableView2->itemDelegate()))
        m_tableView2->setItemDelegate(new KepItemDelegate(m_tableView2));
    m_tableView2->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_tableView2->horizontalHeader()->hide();
    m_tableView2->verticalHeader()->hide();
    linkVerticalScrollBars(m_tableView, m_tableView2);
}

void Widget::applyNaming(int cnum)
{
    m_cnum = cnum;
    m_passRows->markAll();
    m_tableView->setCnum(cnum);
    emit send_combin(cnum);
    emit cnum_change(cnum);
    if (m_preview)
        m_preview->setNaming(cnum);
}

void Widget::change_c345(QAction *action)
{
    m_menu->markNaming(action);
    const int cnum = action == m_menu->actionC3 ? 1 : action == m_menu->actionC5 ? 3 : 2;
    applyNaming(cnum);
    const EditHistory::Automatic automatic(m_history);  // a naming, not an edit
    renameNoteTexts(*m_rules, m_cnum);
    Preferences::setSelectedActionIndex(m_menu->checkedNamingIndex());
}

void Widget::restoreNaming()
{
    const int index = Preferences::selectedActionIndex();
    const QList<QAction *> entries = m_menu->namingGroup->actions();
    if (index >= 0 && index < entries.size()) {
        entries[index]->setChecked(true);
        m_menu->markNaming(entries[index]);
        applyNaming(index + 1);
    } else {
        emit send_combin(m_cnum);
    }
}

void Widget::normalizeControllerTexts()
{
    m_passRows->markAll();
    controllerTick();
}

void Widget::controllerTick()
{
    if (m_passRows->any()) {
        // The pass rewrites what the user typed; its rewrites are no step of their own.
        const EditHistory::Automatic automatic(m_history);
        vl::normalizeControllerTexts(*m_rules, m_cnum, m_passRows->first(), m_passRows->last());
        // Its own writes need no second look.
        m_passRows->clear();
    }
    m_delegate->relabelControllerEditors();
}

bool Widget::refreshPending() const { return m_forwarder->refreshPending(); }

void Widget::onDataChanged33(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &)
{
    m_forwarder->rulesChanged(topLeft, bottomRight);
}

void Widget::handleDataChanged() { m_forwarder->refreshNow(); }

void Widget::onDataChanged333(const QModelIndex &topLeft, const QModelIndex &, const QVector<int> &)
{
    m_forwarder->remarksChanged(topLeft);
}

void Widget::onDataChanged55()
{
    if (m_autoUpdates)
        m_forwarder->reload();
}

void Widget::updateTableDataSlot(int row, int col, const QString &changedString)
{
    if (m_preview)
        m_preview->ruleCellChanged(row, col, changedString);
}

void Widget::on_pushButton_4_clicked() { m_forwarder->reload(true); }

void Widget::update_light_data() { m_forwarder->reload(); }

void Widget::on_pushButton_3_clicked() {}

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

void Widget::on_clearButton_clicked()
{
    const auto answer = question(nullptr, QStringLiteral(" "), QStringLiteral("Clear current configuration？"),
                                 QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
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
    if (m_history && m_history->isModified()) {
        close();
        return;
    }
    const auto answer = question(nullptr, QStringLiteral(" "), QStringLiteral("Exit software?"),
                                 QMessageBox::Ok | QMessageBox::Cancel);
    if (answer == QMessageBox::Ok)
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
