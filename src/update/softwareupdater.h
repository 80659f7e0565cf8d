#pragma once

// The editor's software update: the silent check after the editor window has been built
// and the check the user asks for (Help, "Check for Update"). Each check gets its own
// update dialog, a child of the editor window; all share one network access manager.

#include "updatecheck.h"

#include <QObject>

class QNetworkAccessManager;
class QWidget;

namespace vl {

class UpdateDialog;

class SoftwareUpdater : public QObject {
    Q_OBJECT
public:
    // `manager` null: the updater makes its own when the first check runs.
    explicit SoftwareUpdater(QWidget *window, const update::UpdateSettings &settings = update::UpdateSettings::fromEnvironment(),
                             QNetworkAccessManager *manager = nullptr);

    // The check at start-up: nothing when it is switched off (settings.startupCheck).
    UpdateDialog *startupCheck(const QString &currentVersionLabel);
    UpdateDialog *manualCheck(const QString &currentVersionLabel);

    const update::UpdateSettings &settings() const { return m_settings; }

signals:
    void checkStarted(vl::UpdateDialog *dialog);

private:
    UpdateDialog *run(update::CheckKind kind, const QString &currentVersionLabel);
    QNetworkAccessManager *manager();

    QWidget *m_window;
    update::UpdateSettings m_settings;
    QNetworkAccessManager *m_manager;
};

}  // namespace vl
