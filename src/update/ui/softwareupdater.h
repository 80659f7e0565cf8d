#pragma once

// The editor's software update: the silent check after the editor window has been built
// and the check the user asks for (Help, "Check for Update"). Each check gets its own
// update dialog, a child of the editor window; all share one network access manager.

#include "update/core/updatecheck.h"

#include <QObject>

class QNetworkAccessManager;
class QWidget;

namespace vl {

class UpdateDialog;

class SoftwareUpdater : public QObject {
    Q_OBJECT
public:
    // `manager` null: the updater makes its own when the first check runs. Removes what
    // earlier runs left in the temporary location (sweepInstallerLeftovers()).
    explicit SoftwareUpdater(QWidget *window,
                             const update::UpdateSettings &settings = update::UpdateSettings::fromEnvironment(),
                             QNetworkAccessManager *manager = nullptr);

    // The check at start-up, called once the editor window is built: it runs as soon as
    // the window has been painted for the first time, so that neither the access manager
    // nor the TLS library is set up before the user sees the editor. Nothing when it is
    // switched off (settings.startupCheck).
    void startupCheck(const QString &currentVersionLabel);
    // The check from the Help menu, at once.
    UpdateDialog *manualCheck(const QString &currentVersionLabel);
    // Runs a check of either kind at once.
    UpdateDialog *check(update::CheckKind kind, const QString &currentVersionLabel);

    const update::UpdateSettings &settings() const { return m_settings; }

signals:
    void checkStarted(vl::UpdateDialog *dialog);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QNetworkAccessManager *manager();

    QWidget *m_window;
    update::UpdateSettings m_settings;
    QNetworkAccessManager *m_manager;
    QString m_startupVersion;  // the version to check at start-up, until the check runs
    bool m_startupPending = false;
};

}  // namespace vl
