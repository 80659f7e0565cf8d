#include "softwareupdater.h"

#include "updatedialog.h"

#include <QNetworkAccessManager>
#include <QWidget>

namespace vl {

SoftwareUpdater::SoftwareUpdater(QWidget *window, const update::UpdateSettings &settings,
                                 QNetworkAccessManager *manager)
    : QObject(window), m_window(window), m_settings(settings), m_manager(manager)
{
}

QNetworkAccessManager *SoftwareUpdater::manager()
{
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    return m_manager;
}

UpdateDialog *SoftwareUpdater::startupCheck(const QString &currentVersionLabel)
{
    if (!m_settings.startupCheck)
        return nullptr;
    return run(update::CheckKind::Startup, currentVersionLabel);
}

UpdateDialog *SoftwareUpdater::manualCheck(const QString &currentVersionLabel)
{
    return run(update::CheckKind::Manual, currentVersionLabel);
}

UpdateDialog *SoftwareUpdater::run(update::CheckKind kind, const QString &currentVersionLabel)
{
    auto *dialog = new UpdateDialog(manager(), m_settings, m_window);
    emit checkStarted(dialog);
    dialog->run(kind, currentVersionLabel);
    return dialog;
}

}  // namespace vl
