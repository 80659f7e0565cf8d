#pragma once

// The preview's "DMX Output" controls: a check box that turns the output on and off, a
// button that opens its settings (the two universes, blackout on exit) and one line that
// says where the frames go or why they do not (with the daemon's web page as a link).
//
// The panel owns the DmxOutput and its client (OLA's unless another is given) and feeds
// it every level the engine applies. The output runs while the box is checked and the
// preview window is open: closing the window, unchecking the box and the window's end
// (the program quitting) turn it off, with its blackout. The settings live in
// "./config.ini" and are saved when the dialog is accepted.

#include "preview/core/dmxoutput.h"

#include <QDialog>
#include <QWidget>

#include <memory>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace vl {

class PreviewEngine;

class DmxOutputDialog : public QDialog {
    Q_OBJECT
public:
    explicit DmxOutputDialog(QWidget *parent = nullptr);

    void setSettings(const DmxOutputSettings &settings);
    DmxOutputSettings settings() const;

    QSpinBox *firstUniverse() const { return m_first; }
    QSpinBox *secondUniverse() const { return m_second; }
    QCheckBox *blackoutOnExit() const { return m_blackout; }
    QPushButton *okButton() const;
    QLabel *problem() const { return m_problem; }

private:
    void check();

    QSpinBox *m_first;
    QSpinBox *m_second;
    QCheckBox *m_blackout;
    QLabel *m_problem;
    QDialogButtonBox *m_buttons;
};

class DmxOutputPanel : public QWidget {
    Q_OBJECT
public:
    // `client` is not owned; null gives the panel OLA's client of its own.
    explicit DmxOutputPanel(PreviewEngine &engine, QWidget *parent = nullptr, DmxClient *client = nullptr,
                            Scheduler &timers = scheduler());
    ~DmxOutputPanel() override;

    DmxOutput &output() { return *m_output; }
    QCheckBox *enableBox() const { return m_enable; }
    QPushButton *settingsButton() const { return m_settingsButton; }
    QLabel *statusLabel() const { return m_status; }
    DmxOutputDialog *settingsDialog() const { return m_dialog; }

    static QString checkBoxText() { return QStringLiteral("DMX Output"); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply();
    void showStatus();
    void openSettings();
    void settingsAccepted();

    std::unique_ptr<DmxClient> m_ownClient;
    std::unique_ptr<DmxOutput> m_output;
    QCheckBox *m_enable;
    QPushButton *m_settingsButton;
    QLabel *m_status;
    DmxOutputDialog *m_dialog;
    bool m_windowOpen = false;
};

}  // namespace vl
