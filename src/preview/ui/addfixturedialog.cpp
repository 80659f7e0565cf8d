#include "addfixturedialog.h"

#include "common/ui/dialogs.h"
#include "common/core/scheduler.h"
#include "picturefile.h"
#include "preview/core/previewcore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace vl {

namespace {

constexpr ColorRole kRoleRows[] = {ColorRole::Brightness, ColorRole::Red, ColorRole::Green, ColorRole::Blue};

const char *const kPixDir = "./pix";

QLabel *captionLabel(const QString &text, const QString &objectName, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

}  // namespace

AddFixtureDialog::AddFixtureDialog(QWidget *parent, GlobalData &registry)
    : AddFixtureDialog(*new FixtureDialogModel(registry), parent)
{
    m_model.setParent(this);
}

AddFixtureDialog::AddFixtureDialog(FixtureDialogModel &model, QWidget *parent) : QDialog(parent), m_model(model)
{
    buildWidgets();

    connect(&m_model, &FixtureDialogModel::availableChanged, this, &AddFixtureDialog::showAvailable);
    connect(&m_model, &FixtureDialogModel::selectedChanged, this, &AddFixtureDialog::showSelected);
    connect(&m_model, &FixtureDialogModel::rolesChanged, this, &AddFixtureDialog::showRoles);
    connect(&m_model, &FixtureDialogModel::entrySelected, this, &AddFixtureDialog::scrollToSelected);

    connect(m_available, &QListWidget::itemDoubleClicked, this, &AddFixtureDialog::on_leftListWidget_itemDoubleClicked);
    for (QComboBox *combo : m_combos)
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &AddFixtureDialog::updateChannelBindings);
    connect(m_nameEdit, &QLineEdit::textChanged, this, [this](const QString &text) { m_model.setFixtureName(text); });
    connect(m_showButton, &QCheckBox::toggled, this, [this](bool on) { m_model.setDisplayNameChecked(on); });
    connect(m_okButton, &QPushButton::clicked, this, &AddFixtureDialog::on_pushButton_clicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &AddFixtureDialog::on_pushButton_2_clicked);
    connect(m_selectImageButton, &QPushButton::clicked, this, &AddFixtureDialog::on_pushButton_3_clicked);
}

void AddFixtureDialog::buildWidgets()
{
    setWindowTitle(QStringLiteral("Dialog"));
    resize(600, 514);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setStyleSheet(QStringLiteral("* { background-color: #1a1a1a; color: #C9A227; font-family: Arial; font-size: 14px; }"
                                 "*:hover { color: #FFD700; }"));

    m_available = new QListWidget(this);
    m_available->setObjectName(QStringLiteral("availableChannelsList"));
    m_selected = new QListWidget(this);
    m_selected->setObjectName(QStringLiteral("selectedChannelsList"));
    auto *lists = new QHBoxLayout;
    lists->addWidget(m_available);
    lists->addWidget(m_selected);

    // Colour roles on the left: a caption, then a label and a list per role.
    auto *colours = new QVBoxLayout;
    colours->addWidget(captionLabel(QStringLiteral("Customize Fixture Color"), QStringLiteral("label"), this));
    const struct {
        ColorRole role;
        const char *label;
        const char *labelName;
        const char *comboName;
    } roleRows[] = {
        {ColorRole::Brightness, "Brightness", "label_2", "brightnessComboBox"},
        {ColorRole::Red, "Red", "label_3", "redComboBox"},
        {ColorRole::Green, "Green", "label_4", "greenComboBox"},
        {ColorRole::Blue, "Blue", "label_5", "blueComboBox"},
    };
    for (const auto &row : roleRows) {
        auto *line = new QHBoxLayout;
        QLabel *label = captionLabel(QString::fromLatin1(row.label), QString::fromLatin1(row.labelName), this);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto *combo = new QComboBox(this);
        combo->setObjectName(QString::fromLatin1(row.comboName));
        m_combos[int(row.role)] = combo;
        line->addWidget(label, 2);
        line->addWidget(combo, 3);
        colours->addLayout(line);
    }

    // Name, picture and buttons on the right.
    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(captionLabel(QStringLiteral("Fixture Name"), QStringLiteral("label_6"), this));
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("fixtureNameLineEdit"));
    nameRow->addWidget(m_nameEdit);
    m_showButton = new QCheckBox(QStringLiteral("Display name"), this);
    m_showButton->setObjectName(QStringLiteral("showButton"));
    m_showButton->setStyleSheet(QStringLiteral("color: #C9A227;"));
    nameRow->addWidget(m_showButton);

    auto *pictureRow = new QHBoxLayout;
    pictureRow->addStretch(6);
    m_pictureLabel = new QLabel(this);
    m_pictureLabel->setObjectName(QStringLiteral("label_7"));
    m_pictureLabel->setMinimumSize(48, 48);
    m_pictureLabel->setAlignment(Qt::AlignCenter);
    pictureRow->addWidget(m_pictureLabel, 1);
    m_selectImageButton = new QPushButton(QStringLiteral("Select Image"), this);
    m_selectImageButton->setObjectName(QStringLiteral("pushButton_3"));
    pictureRow->addWidget(m_selectImageButton, 3);

    auto *buttonRow = new QHBoxLayout;
    m_okButton = new QPushButton(QStringLiteral("Ok"), this);
    m_okButton->setObjectName(QStringLiteral("pushButton"));
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("pushButton_2"));
    buttonRow->addWidget(m_okButton);
    buttonRow->addSpacing(30);
    buttonRow->addWidget(m_cancelButton);

    auto *right = new QVBoxLayout;
    right->addLayout(nameRow);
    right->addLayout(pictureRow);
    right->addStretch();
    right->addLayout(buttonRow);

    auto *lower = new QHBoxLayout;
    lower->addLayout(colours);
    lower->addLayout(right);

    auto *top = new QVBoxLayout(this);
    top->addLayout(lists, 2);
    top->addLayout(lower, 1);
}

// ---- showing the model ----

void AddFixtureDialog::showAvailable()
{
    m_available->clear();
    m_available->addItems(m_model.available());
}

void AddFixtureDialog::showSelected()
{
    // Row widgets of removed items are deleted later by the view, so an "X" button may
    // empty the list from its own click.
    m_selected->clear();
    for (const QString &entry : m_model.selected()) {
        auto *item = new QListWidgetItem(m_selected);
        item->setSizeHint(QSize(0, 28));
        auto *row = new QWidget;
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(2, 0, 2, 0);
        auto *label = new QLabel(entry, row);
        label->setMinimumWidth(200);
        auto *remove = new QPushButton(QStringLiteral("X"), row);
        remove->setFixedSize(23, 23);
        remove->setStyleSheet(QStringLiteral("color: red;"));
        connect(remove, &QPushButton::clicked, this, &AddFixtureDialog::on_removeButton_clicked);
        layout->addWidget(label);
        layout->addWidget(remove);
        m_selected->setItemWidget(item, row);
    }
}

void AddFixtureDialog::showRoles()
{
    for (const ColorRole role : kRoleRows) {
        QComboBox *combo = m_combos[int(role)];
        const QSignalBlocker block(combo);
        combo->clear();
        combo->addItems(m_model.roleItems(role));
        combo->setCurrentIndex(m_model.roleIndex(role));
    }
}

void AddFixtureDialog::scrollToSelected(int row)
{
    scheduler().singleShot(50, this, [this, row] {
        if (QListWidgetItem *item = m_selected->item(row))
            m_selected->scrollToItem(item, QAbstractItemView::PositionAtCenter);
    });
}

void AddFixtureDialog::showPicture(const QPixmap &picture)
{
    m_pictureLabel->setPixmap(picture.scaled(m_pictureLabel->size(), Qt::KeepAspectRatio, Qt::FastTransformation));
}

// ---- opening ----

void AddFixtureDialog::resetWithChannelRows(const QList<QStringList> &rows)
{
    m_model.resetWithChannelRows(rows);
    m_nameEdit->setText(m_model.fixtureName());
    m_pictureLabel->clear();
}

void AddFixtureDialog::setChannelRows(const QList<QStringList> &rows)
{
    m_model.setChannelRows(rows);
    m_nameEdit->setText(m_model.fixtureName());
}

void AddFixtureDialog::setOriginalChannels(const QList<SelectedChannel> &channels)
{
    m_model.setOriginalChannels(channels);
}

void AddFixtureDialog::setSelectedChannels(const QList<SelectedChannel> &channels)
{
    m_model.setSelectedChannels(channels);
}

void AddFixtureDialog::setFixtureName(const QString &name)
{
    m_nameEdit->setText(name);
    m_model.setFixtureName(name);
}

void AddFixtureDialog::setDisplayNameChecked(bool checked) { m_showButton->setChecked(checked); }

void AddFixtureDialog::setPicture(const QString &path)
{
    m_model.setPicturePath(path);
    if (path.isEmpty()) {
        m_pictureLabel->clear();
        return;
    }
    const QPixmap picture = loadPicture(path);
    if (!picture.isNull())
        showPicture(picture);
}

void AddFixtureDialog::setColorChannels(int red, int green, int blue, int brightness)
{
    m_model.setColorChannels(red, green, blue, brightness);
}

// ---- the user's actions ----

void AddFixtureDialog::on_leftListWidget_itemDoubleClicked(QListWidgetItem *item)
{
    const int row = m_available->row(item);
    if (row >= 0)
        m_model.moveToSelection(row);
}

void AddFixtureDialog::on_removeButton_clicked()
{
    const auto *button = qobject_cast<QWidget *>(sender());
    if (!button)
        return;
    for (int row = 0; row < m_selected->count(); ++row) {
        QWidget *rowWidget = m_selected->itemWidget(m_selected->item(row));
        if (rowWidget && rowWidget->isAncestorOf(button)) {
            m_model.removeFromSelection(row);
            return;
        }
    }
}

void AddFixtureDialog::updateChannelBindings()
{
    for (const ColorRole role : kRoleRows) {
        if (sender() == m_combos[int(role)]) {
            m_model.setRoleIndex(role, m_combos[int(role)]->currentIndex());
            return;
        }
    }
    m_model.updateChannelBindings();
}

void AddFixtureDialog::saveCurrentState() { m_model.saveCurrentState(); }

void AddFixtureDialog::on_pushButton_clicked()
{
    switch (m_model.ok()) {
    case FixtureDialogModel::SaveResult::Stored: accept(); break;
    case FixtureDialogModel::SaveResult::EmptyName:
        warning(this, PreviewCore::emptyNameTitle(), PreviewCore::emptyNameText());
        break;
    case FixtureDialogModel::SaveResult::NameTaken:
        warning(this, PreviewCore::duplicateNameTitle(), PreviewCore::duplicateNameText());
        m_nameEdit->clear();
        break;
    }
}

void AddFixtureDialog::on_pushButton_2_clicked() { reject(); }

void AddFixtureDialog::reject()
{
    m_model.cancel();
    QDialog::reject();
}

void AddFixtureDialog::on_pushButton_3_clicked()
{
    const QString pixDir = QString::fromLatin1(kPixDir);
    if (!QDir().mkpath(pixDir)) {
        warning(this, QStringLiteral("Warning!"), QStringLiteral("Failed to create directory ./pix"));
        return;
    }
    const QString chosen = getOpenRegularFileName(this, QStringLiteral("Open a file."),
                                                  QDir::current().absoluteFilePath(QStringLiteral("pix")),
                                                  QStringLiteral("Images (*.png *.jpeg *.bmp *.jpg *.gif *.webp)"));
    if (chosen.isEmpty()) {
        warning(this, QStringLiteral("Warning!"), QStringLiteral("No image selected!"));
        return;
    }
    // A picture of that name already in ./pix is used as it is.
    const QString target = pixDir + QLatin1Char('/') + QFileInfo(chosen).fileName();
    if (!QFileInfo::exists(target) && !QFile::copy(chosen, target)) {
        warning(this, QStringLiteral("Warning!"), QStringLiteral("Failed to copy the file to ./pix directory"));
        return;
    }
    m_model.setPicturePath(target);
    const QPixmap picture = loadPicture(target);
    if (picture.isNull()) {
        warning(this, QStringLiteral("Warning!"), QStringLiteral("Failed to load image into QLabel."));
        return;
    }
    showPicture(picture);
}

}  // namespace vl
