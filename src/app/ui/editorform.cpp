#include "editorform.h"

#include "customlabel.h"
#include "mainwindow.h"

#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/delegates.h"
#include "table/ui/tableviews.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace vl {

namespace {

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

void EditorForm::setupUi(QWidget *window)
{
    window->setWindowIcon(QIcon(QStringLiteral(":/IMG/icon.ico")));
    window->resize(1100, 526);
    window->setMinimumSize(955, 480);
    window->setStyleSheet(QStringLiteral("QWidget { font: 75 10pt \"Arial\"; }"
                                         "#Widget { background-color: rgb(79, 79, 79); }"
                                         "QComboBox { combobox-popup: 0; }"
                                         "QComboBox QAbstractItemView { max-height: 200px; }"));

    auto *top = new QVBoxLayout(window);
    top->setSpacing(6);
    top->setContentsMargins(top->contentsMargins().left(), 0, top->contentsMargins().right(),
                            top->contentsMargins().bottom());

    // The menu bar is the first row.
    menu = new MainWindow(window);
    menu->setWindowFlags(Qt::WindowFlags());  // a main window is always a window until told otherwise
    menu->setMaximumSize(3000, 20);
    top->addWidget(menu, 0);

    // Logo row.
    auto *logoRow = new QHBoxLayout;
    logoRow->setSpacing(0);
    logoRow->setContentsMargins(0, 9, 0, 0);
    tiplabel = makeLabel(window, "tiplabel");
    tiplabel->setMinimumWidth(120);
    logoRow->addWidget(tiplabel);
    logoRow->addStretch();
    QLabel *logo = makeLabel(window, "label_ico");
    logo->setFixedSize(155, 35);
    logo->setStyleSheet(QStringLiteral("image: url(:/IMG/KVR_Tool.png);"));
    logoRow->addWidget(logo);
    top->addLayout(logoRow);

    // Port row.
    auto *portRow = new QHBoxLayout;
    portRow->setSpacing(0);
    portRow->addWidget(makeLabel(window, "label_25"));
    comboBox_ComDevices = new QComboBox(window);
    comboBox_ComDevices->setObjectName(QStringLiteral("comboBox_ComDevices"));
    comboBox_ComDevices->setMinimumWidth(300);
    portRow->addWidget(comboBox_ComDevices);
    portRow->addWidget(makeLabel(window, "label_26"));
    connectButton = makeButton(window, "connectButton", QStringLiteral("Connect"));
    checkButton = makeButton(window, "checkButton", QStringLiteral("Check"));
    for (QPushButton *b : {connectButton, checkButton}) {
        b->setMinimumWidth(100);
        b->setMaximumWidth(125);
        portRow->addWidget(b);
    }
    portRow->addStretch();
    top->addLayout(portRow);

    setupTitles(window, top);

    // Table row.
    auto *tableRow = new QHBoxLayout;
    tableRow->setSpacing(0);
    tableView = new MyTableView(window);
    tableView_2 = new MyTableView2(window);
    for (QTableView *view : {static_cast<QTableView *>(tableView), static_cast<QTableView *>(tableView_2)})
        view->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    tableRow->addWidget(tableView, 10);
    tableRow->addWidget(tableView_2, 1);
    top->addLayout(tableRow);

    // Button row.
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(0);
    pushButton = makeButton(window, "pushButton", QStringLiteral("Read"));
    pushButton_2 = makeButton(window, "pushButton_2", QStringLiteral("Set"));
    clearButton = makeButton(window, "clearButton", QStringLiteral("Clear"));
    clearButton->setMinimumWidth(75);
    pushButton_4 = makeButton(window, "pushButton_4", QStringLiteral("test"));
    pushButton_3 = makeButton(window, "pushButton_3", QStringLiteral("test"));
    for (QPushButton *b : {pushButton, pushButton_2, clearButton, pushButton_4})
        buttonRow->addWidget(b);
    for (int i = 0; i < 11; ++i)
        buttonRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    buttonRow->addWidget(pushButton_3);
    top->addLayout(buttonRow);
    checkButton->hide();
    pushButton_3->hide();
}

void EditorForm::showRules(RuleModel *rules, AliasStore *aliases)
{
    tableView->setAliasSource(aliases);
    tableView->setModel(rules);
    tableView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tableView->horizontalHeader()->hide();
    tableView->verticalHeader()->hide();
    delegate = new CombinedDelegate(tableView);
    tableView->setItemDelegate(delegate);
}

void EditorForm::showRemarks(RemarkModel *remarks)
{
    tableView_2->setModel(remarks);
    if (!qobject_cast<KepItemDelegate *>(tableView_2->itemDelegate()))
        tableView_2->setItemDelegate(new KepItemDelegate(tableView_2));
    tableView_2->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tableView_2->horizontalHeader()->hide();
    tableView_2->verticalHeader()->hide();
    linkVerticalScrollBars(tableView, tableView_2);
}

void EditorForm::setupTitles(QWidget *window, QVBoxLayout *top)
{
    const int columns = int(std::size(kTitles));

    // The orange "MIDI Message" band over Status, Controller and Channel.
    auto *groupRow = new QHBoxLayout;
    groupRow->setSpacing(0);
    groupRow->setContentsMargins(0, 0, 20, 0);
    for (int i = 0; i < columns; ++i) {
        auto *label = new QLabel(window);
        label->setObjectName(QStringLiteral("groupLabel_%1").arg(i));
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        groupLabels.append(label);
        groupRow->addWidget(label, 1);
    }
    auto *titles = new QVBoxLayout;  // the band sits right on the titles below it
    titles->setSpacing(0);
    titles->addLayout(groupRow);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(0);
    titleRow->setContentsMargins(0, 0, 20, 0);
    for (int i = 0; i < columns; ++i) {
        auto *label = new CustomLabel(QString::fromUtf8(kTitles[i].text), window);
        label->setObjectName(QStringLiteral("titleLabel_%1").arg(i));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        titleLabels.append(label);
        titleRow->addWidget(label, 1);
    }
    titles->addLayout(titleRow);
    top->addLayout(titles);

    // Styles and tooltips.
    groupLabels[ColSta]->setStyleSheet(
        QStringLiteral("QLabel { background-color: %1; border-top-left-radius:3px;}").arg(kOrange));
    groupLabels[ColCtl]->setStyleSheet(QStringLiteral("QLabel { background-color: %1;color:#F8F8FF;}").arg(kOrange));
    groupLabels[ColCtl]->setText(QStringLiteral("MIDI Message"));
    groupLabels[ColCtl]->setAlignment(Qt::AlignCenter);
    groupLabels[ColCh]->setStyleSheet(
        QStringLiteral("QLabel { background-color:  %1; border-top-right-radius:3px}").arg(kOrange));

    for (int i = 0; i < columns; ++i) {
        CustomLabel *label = titleLabels[i];
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

}  // namespace vl
