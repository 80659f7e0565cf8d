#pragma once

// The dialog in which the user defines a fixture: which of the rule table's channels belong
// to it, which of them drive its brightness, red, green and blue, its name, whether the
// name shows on the stage, and a picture. What it decides is FixtureDialogModel's; the
// dialog shows the model's lists and hands the user's actions to it.
//
// Ok stores the fixture in the registry and marks its SNs used. A name another fixture
// already has is refused before anything is stored, so the existing fixture stays as it
// was; the dialog says so and stays open for another name.

#include "preview/core/fixturedialogmodel.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vl {

class AddFixtureDialog : public QDialog {
    Q_OBJECT
public:
    // A dialog with a model of its own on `registry`.
    explicit AddFixtureDialog(QWidget *parent = nullptr, GlobalData &registry = GlobalData::instance());
    // A dialog showing `model` (the preview's fixture dialog state), which outlives it.
    explicit AddFixtureDialog(FixtureDialogModel &model, QWidget *parent = nullptr);

    // ---- opening ----
    // Adding: no picture, no name, the offered rows, nothing selected, no roles.
    void resetWithChannelRows(const QList<QStringList> &rows);
    // Editing: no name, the offered rows; selection and roles stay.
    void setChannelRows(const QList<QStringList> &rows);
    void setOriginalChannels(const QList<SelectedChannel> &channels);
    void setSelectedChannels(const QList<SelectedChannel> &channels);
    void setFixtureName(const QString &name);
    QString fixtureName() const { return m_model.fixtureName(); }
    void setDisplayNameChecked(bool checked);
    bool isDisplayNameChecked() const { return m_model.isDisplayNameChecked(); }
    // An empty path clears the picture; a path that does not load keeps the shown one.
    void setPicture(const QString &path);
    QString picturePath() const { return m_model.picturePath(); }
    void setColorChannels(int red, int green, int blue, int brightness);

    // ---- what Ok hands back ----
    QList<SelectedChannel> selectedChannels() const { return m_model.selectedChannels(); }
    QMap<QString, int> channelBindings() const { return m_model.channelBindings(); }
    // The fixture as Ok stored it.
    LightFixture definition() const { return m_model.definition(); }

    FixtureDialogModel &model() { return m_model; }
    const FixtureDialogModel &model() const { return m_model; }

    QListWidget *availableChannelsList() const { return m_available; }
    QListWidget *selectedChannelsList() const { return m_selected; }
    QComboBox *brightnessComboBox() const { return m_combos[int(ColorRole::Brightness)]; }
    QComboBox *redComboBox() const { return m_combos[int(ColorRole::Red)]; }
    QComboBox *greenComboBox() const { return m_combos[int(ColorRole::Green)]; }
    QComboBox *blueComboBox() const { return m_combos[int(ColorRole::Blue)]; }
    QComboBox *roleComboBox(ColorRole role) const { return m_combos[int(role)]; }
    QLineEdit *fixtureNameLineEdit() const { return m_nameEdit; }
    QCheckBox *showButton() const { return m_showButton; }
    QLabel *pictureLabel() const { return m_pictureLabel; }
    QPushButton *okButton() const { return m_okButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPushButton *selectImageButton() const { return m_selectImageButton; }

    // Closing the dialog in any way is Cancel.
    void reject() override;

public slots:
    void on_leftListWidget_itemDoubleClicked(QListWidgetItem *item);
    void on_removeButton_clicked();
    // A role list's choice changed.
    void updateChannelBindings();
    // Stores the definition without closing (Ok does this first).
    void saveCurrentState();
    // Ok.
    void on_pushButton_clicked();
    // Cancel.
    void on_pushButton_2_clicked();
    // Select Image.
    void on_pushButton_3_clicked();
    // Kept for callers of the dialog's slots; they do nothing.
    void on_radioButton_clicked() {}
    void on_showButton_stateChanged(int) {}

private:
    void buildWidgets();
    void showAvailable();
    void showSelected();
    void showRoles();
    void scrollToSelected(int row);
    void showPicture(const QPixmap &picture);

    FixtureDialogModel &m_model;
    QListWidget *m_available = nullptr;
    QListWidget *m_selected = nullptr;
    QComboBox *m_combos[kColorRoles] = {};
    QLineEdit *m_nameEdit = nullptr;
    QCheckBox *m_showButton = nullptr;
    QLabel *m_pictureLabel = nullptr;
    QPushButton *m_selectImageButton = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};

}  // namespace vl
