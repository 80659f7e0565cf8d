#include "softwareupdater.h"

#include "updatedialog.h"

#include "update/core/installer.h"

#include <QEvent>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QWidget>

namespace vl {

SoftwareUpdater::SoftwareUpdater(QWidget *window, const update::UpdateSettings &settings,
                                 QNetworkAccessManager *manager)
    : QObject(window), m_window(window), m_settings(settings), m_manager(manager)
{
    // What an earlier run left: downloads a crash interrupted, installers that have run.
    update::sweepInstallerLeftovers(m_settings.tempRoot);
}

QNetworkAccessManager *SoftwareUpdater::manager()
{
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    return m_manager;
}

void SoftwareUpdater::startupCheck(const QString &currentVersionLabel)
{
    if (!m_settings.startupCheck || m_startupPending)
        return;
    m_startupPending = true;
    m_startupVersion = currentVersionLabel;
    m_window->installEventFilter(this);
}

bool SoftwareUpdater::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Paint && m_startupPending) {
        m_startupPending = false;
        m_window->removeEventFilter(this);
        // After this first paint has been done.
        QTimer::singleShot(0, this, [this] { check(update::CheckKind::Startup, m_startupVersion); });
    }
    return QObject::eventFilter(watched, event);
}

UpdateDialog *SoftwareUpdater::manualCheck(const QString &currentVersionLabel)
{
    return check(update::CheckKind::Manual, currentVersionLabel);
}

UpdateDialog *SoftwareUpdater::check(update::CheckKind kind, const QString &currentVersionLabel)
{
    auto *dialog = new UpdateDialog(manager(), m_settings, m_window);
    emit checkStarted(dialog);
    dialog->run(kind, currentVersionLabel);
    return dialog;
}

}  // namespace vl
