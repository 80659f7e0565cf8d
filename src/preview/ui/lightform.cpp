#include "lightform.h"

#include "common/ui/dialogs.h"
#include "midi/ui/keyboardwidget.h"
#include "midi/ui/midikeybutton.h"
#include "midi/ui/midioutputpanel.h"
#include "midi/core/qmidiout.h"
#include "addfixturedialog.h"
#include "dmxoutputpanel.h"
#include "fixturedetailsdialog.h"
#include "preview/core/framelimiter.h"
#include "midipanelsender.h"
#include "picturefile.h"
#include "stagecontroller.h"
#include "preview/core/stagegeometry.h"
#include "stageitems.h"
#include "table/core/rulemodel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpacerItem>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <utility>

namespace vl {

namespace {

const char kWindowStyle[] =
    "QWidget { font-family: Arial; }"
    "QWidget#Form { background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #1e1e1e, stop:1 #3c3c3c);"
    " color: white; font-size: 14px; }"
    "QLabel, QCheckBox { color: white; font-size: 14px; }"
    "QLineEdit { color: black; }"
    "QMessageBox QLabel { color: black; }"
    "QLabel#label, QLabel#label_2 { color: rgb(255, 215, 23); }"
    "QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #555555, stop:1 #1e1e1e);"
    " border: 2px solid #444444; color: #FFD700; border-radius: 8px; padding: 6px 15px;"
    " font-size: 14px; font-weight: normal; }"
    "QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #666666, stop:1 #2e2e2e);"
    " color: white; }"
    "QPushButton:pressed { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #333333, stop:1 #0e0e0e);"
    " border: 2px solid #FFD700; }"
    "QGraphicsView { border: 3px solid qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #666666, stop:1 #000000);"
    " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2b2b2b, stop:1 #121212); border-radius: 12px; }"
    "QTableView { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2a2a2a, stop:1 #1c1c1c);"
    " alternate-background-color: #242424; color: white; gridline-color: #444444; border: 2px solid #666666; }"
    "QHeaderView::section { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #444444, stop:1 #222222);"
    " color: white; font-weight: bold; border: 1px solid #666666; padding: 6px; }"
    "QTableCornerButton::section { background: #444444; }"
    "QScrollBar::add-line:hover, QScrollBar::sub-line:hover { background: #555555; }";

const char kMenuStyle[] =
    "QMenuBar { background-color: #2a2a2a; color: #ffffff; }QMenu { background-color: #2a2a2a; color: #ffffff; }"
    "QMenu::item { padding: 5px; }QMenu::item:selected { background-color: #4a4a4a; }";

const char kDetailsButtonStyle[] =
    "background: rgba(230, 230, 230, 0.5);border: none;color: #333333;font-family: Arial;font-size: 14px;"
    "padding: 8px 16px;border-radius: 5px;text-align: center;outline: none;box-shadow: none;transition: none;";

const char kClosedIcon[] = ":/IMG/ss3.png";  // the panel is closed: a downward chevron
const char kOpenIcon[] = ":/IMG/zk.png";     // the panel is open: a right-pointing chevron

const QString kCheckBoxColour = QStringLiteral("QCheckBox { color: rgb(255, 215, 0); }");

constexpr int kFaderCellWidth = 24;
constexpr int kFaderLabelHeight = 16;
constexpr int kKeyboardHeight = 95;
constexpr int kKeyboardMargin = 42;

QPushButton *makeButton(const char *name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QLabel *faderLabel(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setFixedSize(kFaderCellWidth, kFaderLabelHeight);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

int firstScreenWidth()
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    return screens.isEmpty() ? 1920 : screens.first()->availableGeometry().width();
}

}  // namespace

light_Form::light_Form(QWidget *parent, QMidiOut *midiOut) : QWidget(parent), m_core(std::make_unique<PreviewCore>())
{
    // The widgets; the slots named after them are bound from here on.
    buildWidgets();
    QMetaObject::connectSlotsByName(this);

    // The "File" menu.
    buildMenu();

    // The stage, the fixture dialog, the details panel and its button.
    buildStage();

    // The MIDI output; the engine's messages go through its panel.
    m_midiPanel = new MidiOutputPanel(comboBox, pushButton_5, this, midiOut, this);
    m_sender = std::make_unique<MidiPanelSender>(m_midiPanel);
    m_core->setMidiSender(m_sender.get());

    // The details button finds its place once the window has its real size.
    QMetaObject::invokeMethod(
        this, [this] { positionDetailsPanel(visibleStageRect()); }, Qt::QueuedConnection);

    // The port list's first fill shows the box's own ports under the maker's name.
    m_midiPanel->fillConnectionListAtStart();

    // The fader strip.
    for (int c = 0; c < kMidiNumbers; ++c)
        addCcFader(QString::number(c));
    m_faderFrames = new FrameLimiter([this] { paintFaderFrame(); }, scheduler(), FrameLimiter::kDefaultIntervalMs,
                                     this);

    // The MIDI channels; the first one is chosen, which hides every fader.
    for (int c = 1; c <= 16; ++c)
        comboBox_2->addItem(QString::number(c));

    // The keyboards with their Hold rows.
    const int screenWidth = firstScreenWidth();
    buildKeyboards(screenWidth);
    m_midiPanel->setKeyboards({noteKeyboard, atKeyboard});

    // The port list refresh runs in the panel from its start; nothing is held.
    noteHold = false;
    atHold = false;

    // The MIDI message log.
    buildMessageLog();

    // The panels are never wider than the screen.
    for (QWidget *w : {widget_2, widget_3, widget_4})
        w->setMaximumWidth(screenWidth);
    if (m_faderLayout)
        widget_2->layout()->setSizeConstraint(QLayout::SetMaximumSize);

    // Title, Ctrl+C for Save Project, the fixture dialog's title.
    setWindowTitle(m_core->session().windowTitle());
    saveShortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+C")), this);
    saveShortcut->setContext(Qt::WindowShortcut);
    connect(saveShortcut, &QShortcut::activated, this, &light_Form::on_pushButton_3_clicked);
    fixtureDialog->setWindowTitle(QStringLiteral("Add Fixture"));

    // The hidden window is styled when it is first shown, not at the editor's start: Qt
    // would style each of its nine hundred widgets at the next turn of the event loop.
    const QList<QWidget *> widgets = findChildren<QWidget *>();
    for (QWidget *w : widgets)
        QCoreApplication::removePostedEvents(w, QEvent::PolishRequest);
    QCoreApplication::removePostedEvents(this, QEvent::PolishRequest);
}

light_Form::~light_Form()
{
    // The stage (with the details panel, its button and the fixtures) and the message log
    // go before the core whose models they show.
    m_core->setMidiSender(nullptr);
    delete m_stage;
    delete scene;
    delete midiMessageDialog;
}

// ---- construction ----

void light_Form::buildWidgets()
{
    setObjectName(QStringLiteral("Form"));
    setWindowTitle(QStringLiteral("Form"));
    setAttribute(Qt::WA_StyledBackground);
    resize(1366, 768);
    setStyleSheet(QLatin1String(kWindowStyle));

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(6, 6, 6, 0);

    // Row 1: the menu above the stage's buttons.
    auto *row1 = new QVBoxLayout;
    widget_5 = new QWidget(this);
    widget_5->setObjectName(QStringLiteral("widget_5"));
    row1->addWidget(widget_5);
    auto *buttons = new QHBoxLayout;
    pushButton = makeButton("pushButton", QStringLiteral("Add Fixture"), this);
    pushButton_2 = makeButton("pushButton_2", QStringLiteral("Remove"), this);
    pushButton_3 = makeButton("pushButton_3", QStringLiteral("test1"), this);
    pushButton_4 = makeButton("pushButton_4", QStringLiteral("test2"), this);
    buttons->addWidget(pushButton);
    buttons->addItem(new QSpacerItem(20, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    buttons->addWidget(pushButton_2);
    buttons->addWidget(pushButton_3);
    buttons->addWidget(pushButton_4);
    buttons->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    buttons->addWidget(new DmxOutputPanel(m_core->engine(), this), 3);  // "DMX Output", at the row's right
    row1->addLayout(buttons);
    top->addLayout(row1, 1);

    // Row 2: the stage.
    graphicsView = new QGraphicsView(this);
    graphicsView->setObjectName(QStringLiteral("graphicsView"));
    top->addWidget(graphicsView, 10);

    // Row 3: the control row and the three panels.
    widget = new QWidget(this);
    widget->setObjectName(QStringLiteral("widget"));
    auto *panels = new QVBoxLayout(widget);
    auto *controls = new QHBoxLayout;
    label = new QLabel(QStringLiteral("MIDI Device"), widget);
    label->setObjectName(QStringLiteral("label"));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    comboBox = new QComboBox(widget);
    comboBox->setObjectName(QStringLiteral("comboBox"));
    comboBox->setMinimumWidth(200);
    pushButton_5 = makeButton("pushButton_5", QStringLiteral("Connect"), widget);
    label_2 = new QLabel(QStringLiteral("MIDI Channel"), widget);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    comboBox_2 = new QComboBox(widget);
    comboBox_2->setObjectName(QStringLiteral("comboBox_2"));
    comboBox_2->setMinimumWidth(10);
    comboBox_2->setMaximumWidth(55);
    checkBox = new QCheckBox(QStringLiteral("Show CC Fader"), widget);
    checkBox->setObjectName(QStringLiteral("checkBox"));
    checkBox_2 = new QCheckBox(QStringLiteral("Show Note Keyboard"), widget);
    checkBox_2->setObjectName(QStringLiteral("checkBox_2"));
    checkBox_3 = new QCheckBox(QStringLiteral("Show AT Keyboard"), widget);
    checkBox_3->setObjectName(QStringLiteral("checkBox_3"));
    for (QCheckBox *box : {checkBox, checkBox_2, checkBox_3}) {
        box->setChecked(true);
        box->setStyleSheet(kCheckBoxColour);
    }
    pushButton_7 = makeButton("pushButton_7", QStringLiteral("Show MIDI Message"), widget);
    pushButton_7->setFixedWidth(175);
    controls->addWidget(label);
    controls->addWidget(comboBox);
    controls->addWidget(pushButton_5);
    controls->addWidget(label_2);
    controls->addWidget(comboBox_2);
    controls->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    controls->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    controls->addWidget(checkBox);
    controls->addWidget(checkBox_2);
    controls->addWidget(checkBox_3);
    controls->addWidget(pushButton_7);
    panels->addLayout(controls, 1);
    widget_3 = new QWidget(widget);
    widget_3->setObjectName(QStringLiteral("widget_3"));
    widget_4 = new QWidget(widget);
    widget_4->setObjectName(QStringLiteral("widget_4"));
    widget_2 = new QWidget(widget);
    widget_2->setObjectName(QStringLiteral("widget_2"));
    new QHBoxLayout(widget_2);
    panels->addWidget(widget_3, 10);
    panels->addWidget(widget_4, 10);
    panels->addWidget(widget_2, 10);
    top->addWidget(widget, 10);
}

void light_Form::buildMenu()
{
    auto *menuLayout = new QVBoxLayout(widget_5);
    menuLayout->setContentsMargins(0, 0, 0, 0);
    menuBar = new QMenuBar(widget_5);
    menuBar->setStyleSheet(QLatin1String(kMenuStyle));
    menuLayout->setMenuBar(menuBar);
    QMenu *file = menuBar->addMenu(QStringLiteral("File"));
    connect(file->addAction(QStringLiteral("New Project")), &QAction::triggered, this,
            &light_Form::on_pushButton_8_clicked);
    connect(file->addAction(QStringLiteral("Open Project")), &QAction::triggered, this,
            &light_Form::on_pushButton_4_clicked);
    connect(file->addAction(QStringLiteral("Save Project")), &QAction::triggered, this,
            &light_Form::on_pushButton_3_clicked);
    connect(file->addAction(QStringLiteral("Save Project As")), &QAction::triggered, this,
            &light_Form::on_pushButton_3_clicked2);
}

void light_Form::buildStage()
{
    scene = new QGraphicsScene(this);
    graphicsView->setScene(scene);
    graphicsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    graphicsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The stage repaints in frames: the scene's changes are gathered and drawn at most 50
    // times a second.
    graphicsView->setViewportUpdateMode(QGraphicsView::NoViewportUpdate);
    m_stageFrames = new FrameLimiter([this] { paintStageFrame(); }, scheduler(), FrameLimiter::kDefaultIntervalMs,
                                     this);
    connect(scene, &QGraphicsScene::changed, this, &light_Form::stageChanged);

    fixtureDialog = new AddFixtureDialog(m_core->fixtureDialog(), this);

    // The details panel on the stage, hidden until asked for.
    detailsDialog = new FixtureDetailsDialog(&m_core->details());
    detailsDialog->setStyleSheet(QStringLiteral("background-color: #e6e6e6;"));
    detailsProxy = new ResizableGraphicsProxyWidget;
    detailsProxy->setWidget(detailsDialog);
    detailsProxy->setFlags(QGraphicsItem::ItemIsMovable | QGraphicsItem::ItemIsSelectable);
    detailsProxy->setAcceptHoverEvents(true);
    scene->addItem(detailsProxy);
    detailsProxy->setZValue(10);
    detailsProxy->hide();
    detailsProxy->resize(400, 300);
    m_stage = new StageController(*m_core, scene, fixtureDialog, detailsDialog, detailsProxy, this);
    // A fixture clicked or edited opens the panel beside the button.
    connect(m_stage, &StageController::detailsShown, this, [this] {
        detailsProxy->setPos(detailsButtonProxy->scenePos() + QPointF(detailsButton->width(), 0));
        setDetailsIcon(QLatin1String(kOpenIcon));
    });

    pushButton_3->hide();

    // The details button, on the stage through a proxy of its own.
    detailsButton = new QPushButton;
    detailsButton->setObjectName(QStringLiteral("detailsButton"));
    setDetailsIcon(QLatin1String(kClosedIcon));
    detailsButton->setStyleSheet(QLatin1String(kDetailsButtonStyle));
    detailsButtonProxy = scene->addWidget(detailsButton);
    detailsButtonProxy->setVisible(true);
    detailsButtonProxy->setZValue(10);
    positionDetailsPanel(visibleStageRect());
    detailsButton->installEventFilter(this);
    graphicsView->installEventFilter(this);
    // The stage's own size settles after the window's resize (and, for a window shown
    // for the first time, after it); the button is placed again once it has.
    graphicsView->viewport()->installEventFilter(this);
}

void light_Form::buildKeyboards(int screenWidth)
{
    struct Panel {
        QWidget *panel;
        KeyboardWidget **keyboard;
        QString name;
        int space;
        QCheckBox **hold;
    };
    const Panel panels[] = {{widget_3, &noteKeyboard, QStringLiteral("Note"), 85, &noteHoldBox},
                            {widget_4, &atKeyboard, QStringLiteral("After Touch"), 50, &atHoldBox}};
    for (const Panel &p : panels) {
        auto *area = new QScrollArea(p.panel);
        area->setWidgetResizable(true);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->setMaximumWidth(screenWidth);
        auto *keyboard = new KeyboardWidget;
        keyboard->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        keyboard->setMaximumWidth(screenWidth);
        keyboard->setFixedWidth(screenWidth - kKeyboardMargin);
        keyboard->setFixedHeight(kKeyboardHeight);
        area->setWidget(keyboard);
        auto *layout = new QVBoxLayout(p.panel);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(area);
        *p.keyboard = keyboard;
        connect(keyboard, &KeyboardWidget::noteOn, this, &light_Form::onNoteOn);
        connect(keyboard, &KeyboardWidget::noteOff, this, &light_Form::onNoteOff);
        layout->insertWidget(0, holdRow(p.name, p.space, p.hold), 0, Qt::AlignLeft);
    }
    connect(noteHoldBox, &QCheckBox::stateChanged, this, &light_Form::onToggleChanged1);
    connect(atHoldBox, &QCheckBox::stateChanged, this, &light_Form::onToggleChanged2);
}

QWidget *light_Form::holdRow(const QString &name, int space, QCheckBox **box)
{
    auto *group = new QGroupBox;
    group->setStyleSheet(QStringLiteral("QGroupBox { border: 0px solid #292929; }"));
    auto *row = new QHBoxLayout(group);
    auto *title = new QLabel(name, group);
    title->setStyleSheet(QStringLiteral("QLabel { color: white; }"));
    row->addWidget(title);
    row->addSpacing(space);
    *box = new QCheckBox(QStringLiteral("Hold"), group);
    (*box)->setStyleSheet(QStringLiteral("QCheckBox { color: white; }"));
    row->addWidget(*box);
    row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    return group;
}

void light_Form::buildMessageLog()
{
    midiMessageDialog = new QDialog(this);
    midiMessageDialog->setWindowTitle(QStringLiteral("MIDI Message"));
    midiMessageDialog->resize(470, 400);
    midiMessageDialog->setWindowFlags(midiMessageDialog->windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto *layout = new QVBoxLayout(midiMessageDialog);
    midiMessageTable = new QTableView(midiMessageDialog);
    midiMessageTable->setObjectName(QStringLiteral("midiMessageTable"));
    midiMessageTable->setModel(&m_core->messageLog());
    midiMessageTable->horizontalHeader()->setStretchLastSection(true);
    midiMessageTable->verticalHeader()->hide();
    midiMessageTable->setColumnWidth(MidiMessageLog::SnColumn, 40);
    midiMessageTable->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    layout->addWidget(midiMessageTable);
    auto *clear = new QPushButton(QStringLiteral("Clear"), midiMessageDialog);
    clear->setObjectName(QStringLiteral("clearButton"));
    layout->addWidget(clear);
    connect(clear, &QPushButton::clicked, &m_core->messageLog(), &MidiMessageLog::clear);
    connect(&m_core->messageLog(), &QAbstractItemModel::rowsInserted, midiMessageTable,
            [this] { midiMessageTable->scrollToBottom(); });
}

// ---- models and the editor's calls ----

void light_Form::setRuleModel(QStandardItemModel *model)
{
    if (auto *rules = qobject_cast<TextTableModel *>(model))
        m_core->setRuleModel(rules);
}

void light_Form::setRemarkModel(QStandardItemModel *model)
{
    if (auto *remarks = qobject_cast<TextTableModel *>(model))
        m_core->setRemarkModel(remarks);
}

void light_Form::rebuildRuleSnapshots() { m_core->reload(); }

void light_Form::refreshFixtureDmxChannels() { m_core->stage().refreshFixtureDmxChannels(); }

void light_Form::refreshDetailsPanel() { showFixtureDetails(m_core->details().displayedFixtureName()); }

void light_Form::setCoefficient(double coefficient) { m_core->engine().setPreviewCoefficient(coefficient); }

double light_Form::previewCoefficient() const { return m_core->engine().previewCoefficient(); }

void light_Form::setNaming(int cnum) { rec_combin(cnum); }

void light_Form::ruleCellChanged(int row, int column, const QString &text)
{
    m_core->stage().ruleCellChanged(row, column, text);
}

void light_Form::ruleRemarkChanged(int row, const QString &text) { m_core->stage().ruleRemarkChanged(row, text); }

void light_Form::ruleRowInserted(int sn) { m_core->stage().ruleRowInserted(sn); }

void light_Form::ruleRowsDeleted(int first, int last)
{
    if (m_core->stage().ruleRowsDeleted(first, last))
        warning(this, PreviewCore::noRowsTitle(), PreviewCore::noRowsText());
}

// ---- the fader strip ----

void light_Form::addCcFader(const QString &labelText)
{
    if (!widget_2->layout())
        new QHBoxLayout(widget_2);
    if (!faderArea) {
        faderArea = new QScrollArea(widget_2);
        faderArea->setWidgetResizable(true);
        faderArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        faderArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        faderArea->setStyleSheet(faderScrollAreaStyleSheet());
        faderStrip = new QWidget;
        faderStrip->setObjectName(QStringLiteral("faderStrip"));
        faderStrip->setStyleSheet(faderStripStyleSheet());
        m_faderLayout = new QHBoxLayout(faderStrip);
        m_faderLayout->setSpacing(0);
        faderArea->setWidget(faderStrip);
        widget_2->layout()->addWidget(faderArea);
    }
    if (m_faders.isEmpty()) {
        // "CC" level with the controller numbers.
        auto *header = new QWidget(faderStrip);
        header->setObjectName(QStringLiteral("faderHeader"));
        auto *column = new QVBoxLayout(header);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->addStretch();
        column->addWidget(faderLabel(QStringLiteral("CC"), header));
        m_faderLayout->addWidget(header);
    }
    if (m_faderLayout->count() > 0 && m_faderLayout->itemAt(m_faderLayout->count() - 1)->spacerItem())
        delete m_faderLayout->takeAt(m_faderLayout->count() - 1);

    CcFader fader;
    fader.controller = labelText.toInt();
    fader.column = new QWidget(faderStrip);
    fader.column->setObjectName(QStringLiteral("faderColumn"));
    auto *column = new QVBoxLayout(fader.column);
    column->setSpacing(1);
    column->setContentsMargins(1, 1, 1, 1);
    fader.valueLabel = faderLabel(QStringLiteral("0"), fader.column);
    fader.slider = new FaderSlider(fader.column);
    fader.slider->setRange(0, 127);
    fader.slider->setValue(0);
    fader.slider->setFixedWidth(kFaderCellWidth);
    fader.slider->setMinimumHeight(qMax(0, widget_2->height() - 80));
    fader.numberLabel = faderLabel(labelText, fader.column);
    column->addWidget(fader.valueLabel);
    column->addWidget(fader.slider);
    column->addWidget(fader.numberLabel);
    m_faderLayout->addWidget(fader.column);
    m_faderLayout->addStretch();

    const int index = m_faders.size();
    fader.slider->setRepaintRequest([this, index](FaderSlider *) {
        m_fadersDirty.insert(index);
        if (m_faderFrames)
            m_faderFrames->request();
        else
            paintFaderFrame();
    });
    connect(fader.slider, &QSlider::valueChanged, this, [this, index](int value) { faderMoved(index, value); });
    m_faders.append(fader);
}

void light_Form::faderMoved(int index, int value) { m_core->engine().faderMoved(m_faders.at(index).controller, value); }

void light_Form::paintFaderFrame()
{
    const QSet<int> dirty = std::exchange(m_fadersDirty, {});
    for (int index : dirty) {
        const CcFader &f = m_faders.at(index);
        const QString text = QString::number(f.slider->value());
        if (f.valueLabel->text() != text)
            f.valueLabel->setText(text);
        f.slider->update();
    }
}

bool light_Form::isRuleEnabled(const QString &status, const QString &number, const QString &channel) const
{
    return m_core->snapshots().isRuleEnabled(status, number, channel);
}

int light_Form::midiChannel() const { return comboBox_2->currentIndex() + 1; }

void light_Form::refreshCcFaders()
{
    const FaderStates states = m_core->faderStates();
    bool shownChanged = false;
    for (CcFader &f : m_faders) {
        const FaderState want = f.controller >= 0 && f.controller < kMidiNumbers ? states[size_t(f.controller)]
                                                                                 : FaderState{};
        if (want == f.state)
            continue;
        if (want.visible != f.state.visible) {
            shownChanged = true;
            for (QWidget *w : {static_cast<QWidget *>(f.valueLabel), static_cast<QWidget *>(f.slider),
                               static_cast<QWidget *>(f.numberLabel), f.column})
                w->setVisible(want.visible);
        }
        if (want.enabled != f.state.enabled) {
            for (QWidget *w : {static_cast<QWidget *>(f.valueLabel), static_cast<QWidget *>(f.slider),
                               static_cast<QWidget *>(f.numberLabel)})
                w->setEnabled(want.enabled);
        }
        f.state = want;
    }
    if (shownChanged && m_faderLayout) {
        m_faderLayout->update();
        faderStrip->adjustSize();
    }
}

// ---- the keyboards ----

void light_Form::markKeys(KeyboardWidget *keyboard, const KeyMarks &marks)
{
    if (!keyboard)
        return;
    for (MidiKeyButton *key : keyboard->keys()) {
        const bool mapped = key->note >= 0 && key->note < kMidiNumbers && marks[size_t(key->note)];
        const QColor colour = mapped ? MidiKeyButton::mappedColor : key->baseColor();
        if (key->mapped == mapped && key->keyColor == colour)
            continue;
        key->mapped = mapped;
        key->keyColor = colour;
        key->update();
    }
}

void light_Form::markNoteKeys()
{
    if (noteKeyboard)
        markKeys(noteKeyboard, m_core->noteKeyMarks());
}

void light_Form::markAtKeys()
{
    if (atKeyboard)
        markKeys(atKeyboard, m_core->atKeyMarks());
}

void light_Form::rec_combin(int num)
{
    if (!noteKeyboard || !atKeyboard)
        return;
    const QStringList labels = pitchCLabels(num);
    if (labels.size() < kMidiNumbers)
        return;
    for (KeyboardWidget *keyboard : {noteKeyboard, atKeyboard}) {
        for (MidiKeyButton *key : keyboard->keys()) {
            const QString text = key->isWhite ? labels.at(key->note) : QString();
            if (key->label != text) {
                key->label = text;
                key->update();
            }
        }
        QMetaObject::invokeMethod(keyboard, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    }
}

void light_Form::onToggleChanged1(int state)
{
    noteHold = state == Qt::Checked;
    m_core->engine().setHold(PreviewKeyboard::Note, noteHold);
    for (MidiKeyButton *key : noteKeyboard->keys()) {
        if (key->mapped)
            key->holdMode = noteHold;
        if (!noteHold)
            key->update();
    }
}

void light_Form::onToggleChanged2(int state)
{
    atHold = state == Qt::Checked;
    m_core->engine().setHold(PreviewKeyboard::Aftertouch, atHold);
    for (MidiKeyButton *key : atKeyboard->keys()) {
        if (key->mapped)
            key->holdMode = atHold;
        if (!atHold)
            key->update();
    }
}

void light_Form::onNoteOn(int note, int velocity)
{
    auto *keyboard = qobject_cast<KeyboardWidget *>(sender());
    if (!keyboard)
        return;
    const PreviewKeyboard which = keyboard == noteKeyboard ? PreviewKeyboard::Note : PreviewKeyboard::Aftertouch;
    const MidiKeyButton *key = keyboard->keyForNote(note);
    if (m_core->engine().keyPressed(which, note, velocity, key && key->mapped)
        == PreviewEngine::KeyResult::ConnectionFailed)
        warning(this, PreviewEngine::connectionFailedTitle(), PreviewEngine::connectionFailedText());
}

void light_Form::onNoteOff(int note, int)
{
    auto *keyboard = qobject_cast<KeyboardWidget *>(sender());
    if (!keyboard)
        return;
    const PreviewKeyboard which = keyboard == noteKeyboard ? PreviewKeyboard::Note : PreviewKeyboard::Aftertouch;
    const MidiKeyButton *key = keyboard->keyForNote(note);
    if (m_core->engine().keyReleased(which, note, key && key->mapped) == PreviewEngine::KeyResult::ConnectionFailed)
        warning(this, PreviewEngine::connectionFailedTitle(), PreviewEngine::connectionFailedText());
}

void light_Form::on_comboBox_2_currentIndexChanged(int index)
{
    m_core->setMidiChannel(index + 1);
    refreshCcFaders();
    markNoteKeys();
    markAtKeys();
}

void light_Form::on_checkBox_clicked(bool checked) { widget_2->setVisible(checked); }
void light_Form::on_checkBox_2_clicked(bool checked) { widget_3->setVisible(checked); }
void light_Form::on_checkBox_3_clicked(bool checked) { widget_4->setVisible(checked); }

// ---- buttons and project commands ----

void light_Form::on_pushButton_clicked() { m_stage->addFixture(); }

void light_Form::on_pushButton_2_clicked() { m_stage->removeSelected(); }

QHash<QString, QString> light_Form::itemPictures() const
{
    QHash<QString, QString> pictures;
    for (const FixtureItem *item : m_stage->fixtureItems())
        if (!pictures.contains(item->name()))
            pictures.insert(item->name(), item->picturePath());
    return pictures;
}

void light_Form::showSaveResult(const ProjectWrite &result)
{
    if (result.ok)
        information(this, result.title, result.message);
    else
        warning(this, result.title, result.message);
}

void light_Form::on_pushButton_3_clicked()
{
    const QString target = m_core->session().saveTarget();
    if (target.isEmpty()) {
        on_pushButton_3_clicked2();
        return;
    }
    // Saved to the project's own file: every channel also names its fixture's picture.
    showSaveResult(m_core->saveProject(target, itemPictures(), true));
}

void light_Form::on_pushButton_3_clicked2()
{
    if (m_core->stage().records().isEmpty()) {
        warning(this, ProjectTexts::saveFailedTitle(), ProjectTexts::nothingToSave());
        return;
    }
    const QString path = getSaveFileName(this, ProjectTexts::saveDialogTitle(),
                                         QDir::homePath() + ProjectTexts::saveStartName(), ProjectTexts::saveFilter());
    // A cancelled dialog leaves no project file: the next Save asks again.
    m_core->session().setSavePath(path);
    if (path.isEmpty())
        return;
    showSaveResult(m_core->saveProject(path, itemPictures(), false));
}

void light_Form::on_pushButton_4_clicked()
{
    const QString path = getOpenFileName(this, ProjectTexts::openDialogTitle(), QDir::homePath(),
                                         ProjectTexts::openFilter());
    // The whole file is read and checked first; a file that does not load leaves the stage,
    // the fixtures and the project's file as they were.
    const ProjectRead read = m_core->openProject(path);
    if (!read.ok) {
        warning(this, ProjectTexts::openFailedTitle(), read.message);
        return;
    }
    m_stage->removeAllFixtureItems();
    for (int k = 0; k < read.fixtures.size(); ++k) {
        const ProjectFixture &f = read.fixtures.at(k);
        m_stage->addFixtureItem(f.name, f.bindings, true, f.pixmap, projectItemPosition(k));
    }
    setWindowTitle(m_core->session().windowTitle());
    information(this, ProjectTexts::loadedTitle(), read.message);
}

void light_Form::on_pushButton_8_clicked()
{
    InputRequest request;
    request.parent = this;
    request.title = ProjectTexts::newTitle();
    request.label = ProjectTexts::newLabel();
    request.text = ProjectTexts::newInitialName();
    request.noContextHelp = true;
    const InputAnswer answer = dialogs().inputText(request);
    if (!answer.accepted || answer.text.isEmpty())
        return;
    m_stage->removeAllFixtureItems();
    m_core->newProject(answer.text);
    if (detailsProxy->isVisible()) {
        detailsProxy->hide();
        m_core->details().clearDetails();
    }
    information(this, ProjectTexts::newTitle(), ProjectTexts::newDone());
    setWindowTitle(m_core->session().windowTitle());
}

void light_Form::on_pushButton_7_clicked() { midiMessageDialog->show(); }

void light_Form::logMidiMessage(const QString &event, int channel, const QString &numberText, const QString &valueText)
{
    m_core->messageLog().logMidiMessage(event, channel, numberText, valueText);
}

// ---- the stage ----

QRectF light_Form::visibleStageRect() const
{
    return graphicsView->mapToScene(graphicsView->viewport()->rect()).boundingRect();
}

void light_Form::positionDetailsPanel(const QRectF &visibleStage)
{
    if (visibleStage.isEmpty())
        return;
    scene->setSceneRect(0, 0, graphicsView->width(), graphicsView->height());
    const QRectF atOrigin(QPointF(0, 0), visibleStage.size());
    const QPointF pos = detailsButtonPosition(atOrigin, detailsButton->width());
    detailsButtonProxy->setPos(pos);
    detailsButtonProxy->setZValue(10);
    detailsProxy->setPos(pos.x() + detailsButton->width(), pos.y());
    detailsProxy->setZValue(10);
}

void light_Form::setDetailsIcon(const QString &picture)
{
    const QPixmap pixmap(picture);
    detailsButton->setIcon(QIcon(pixmap));
    detailsButton->setIconSize(pixmap.size());
}

void light_Form::showFixtureDetails(const QString &name)
{
    // The stage fills and shows the panel; detailsShown brings it beside the button.
    m_stage->showFixtureDetails(name);
}

bool light_Form::detailsButtonEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const QPoint global = static_cast<QMouseEvent *>(event)->globalPos();
        m_lastGlobalX = global.x();
        m_lastGlobalY = global.y();
        m_dragging = false;
        return true;
    }
    case QEvent::MouseMove: {
        const QPoint global = static_cast<QMouseEvent *>(event)->globalPos();
        const QPoint d(global.x() - m_lastGlobalX, global.y() - m_lastGlobalY);
        if (!m_dragging) {
            if (!exceedsDragDistance(d, QApplication::startDragDistance()))
                return true;
            m_dragging = true;
        }
        const QPointF pos = clampToStage(detailsButtonProxy->pos() + QPointF(d), visibleStageRect(),
                                         detailsButtonProxy->size());
        detailsButtonProxy->setPos(pos);
        detailsProxy->setPos(pos.x() + detailsButton->width(), pos.y());
        m_lastGlobalX = global.x();
        m_lastGlobalY = global.y();
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragging) {
            if (detailsProxy->isVisible()) {
                detailsProxy->hide();
                setDetailsIcon(QLatin1String(kClosedIcon));
            } else {
                detailsProxy->show();
                setDetailsIcon(QLatin1String(kOpenIcon));
            }
            detailsProxy->setPos(detailsButtonProxy->pos() + QPointF(detailsButton->width(), 0));
        }
        m_dragging = false;
        return true;
    case QEvent::MouseButtonDblClick: return true;
    default: return false;
    }
}

bool light_Form::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == detailsButton)
        return detailsButtonEvent(event) || QWidget::eventFilter(watched, event);
    if (watched == graphicsView->viewport() && event->type() == QEvent::Resize && !m_placementPosted) {
        m_placementPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_placementPosted = false;
                positionDetailsPanel(visibleStageRect());
            },
            Qt::QueuedConnection);
    }
    if (watched == graphicsView && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            QMenu menu(this);
            QAction *select = menu.addAction(QStringLiteral("Select the background picture"));
            QAction *chosen = m_menuRunner ? m_menuRunner(menu, mouse->globalPos()) : menu.exec(mouse->globalPos());
            if (chosen == select)
                selectBackgroundPicture();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void light_Form::selectBackgroundPicture()
{
    const QString path = getOpenRegularFileName(this, tr("选择图片"), QDir::currentPath(),
                                                tr("图片文件 (*.png *.jpg *.bmp)"));
    if (!path.isEmpty())
        addBackgroundPicture(path);
}

MyResizablePixmapItem *light_Form::addBackgroundPicture(const QString &path)
{
    auto *item = new MyResizablePixmapItem(loadPicture(path));
    item->setZValue(-1000);
    scene->addItem(item);
    item->setPos(backgroundPicturePosition(scene->sceneRect(), item->boundingRect()));
    return item;
}

void light_Form::stageChanged(const QList<QRectF> &rects)
{
    for (const QRectF &r : rects)
        m_stageDirty += graphicsView->mapFromScene(r).boundingRect().adjusted(-2, -2, 2, 2);
    if (!rects.isEmpty())
        m_stageFrames->request();
}

void light_Form::paintStageFrame()
{
    const QRegion dirty = std::exchange(m_stageDirty, QRegion());
    if (!dirty.isEmpty())
        graphicsView->viewport()->update(dirty);
}

// ---- window events ----

void light_Form::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete)
        on_pushButton_2_clicked();
}

void light_Form::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    positionDetailsPanel(visibleStageRect());
}

}  // namespace vl
