#include "updatedialog.h"

#include "common/ui/dialogs.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

namespace vl {

using update::CheckKind;
using update::UpdateCheck;

UpdateDialog::UpdateDialog(QNetworkAccessManager *manager, const update::UpdateSettings &settings, QWidget *parent)
    : QDialog(parent), m_check(new UpdateCheck(manager, settings, this))
{
    setObjectName(QStringLiteral("UpdateDialog"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(QStringLiteral("Checking Update..."));
    resize(400, 200);

    auto *layout = new QVBoxLayout(this);
    // The offer carries the server's release notes, as long as they are: they scroll, and
    // they are shown as the text they are, never as HTML.
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("notesArea"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_label = new QLabel(QStringLiteral("Checking update information..."));
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_scroll->setWidget(m_label);
    layout->addWidget(m_scroll, 1);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->hide();
    layout->addWidget(m_progress);

    auto *buttons = new QHBoxLayout;
    m_download = new QPushButton(QStringLiteral("Download"), this);
    m_download->setObjectName(QStringLiteral("downloadButton"));
    m_download->setEnabled(false);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(m_download);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);

    connect(m_download, &QPushButton::clicked, this, &UpdateDialog::onDownloadClicked);
    connect(m_cancel, &QPushButton::clicked, this, &UpdateDialog::reject);
    connect(m_check, &UpdateCheck::checked, this, &UpdateDialog::onChecked);
    connect(m_check, &UpdateCheck::percentChanged, m_progress, &QProgressBar::setValue);
    connect(m_check, &UpdateCheck::downloadEnded, this, &UpdateDialog::onDownloadEnded);
    // One dialog per check: it goes once it has been closed.
    connect(this, &QDialog::finished, this, &QObject::deleteLater);
}

void UpdateDialog::run(CheckKind kind, const QString &currentVersionLabel)
{
    m_check->start(kind, currentVersionLabel);
}

QString UpdateDialog::offerText(const UpdateCheck &check)
{
    return QStringLiteral("The current version is: V%1\nA new version is available: %2\n\nUpdate Content:\n%3")
        .arg(check.currentVersion(), check.release().releaseName, check.release().notes);
}

void UpdateDialog::onChecked()
{
    const bool manual = m_check->kind() == CheckKind::Manual;
    switch (m_check->state()) {
    case UpdateCheck::State::Failed:
    case UpdateCheck::State::NoRelease:
        m_label->setText(m_check->state() == UpdateCheck::State::Failed
                             ? QStringLiteral("Update file download failed: ") + m_check->errorText()
                             : QStringLiteral("Update check finished, but no version info found."));
        m_download->setEnabled(false);
        // The user who asked is shown why nothing is offered; the check at start-up stays silent.
        if (manual)
            show();
        else
            done(Rejected);
        break;
    case UpdateCheck::State::Offered:
        setWindowTitle(QStringLiteral("Update Available"));
        m_label->setText(offerText(*m_check));
        m_download->setEnabled(true);
        fitToScreen();
        show();
        break;
    case UpdateCheck::State::UpToDate:
        if (manual)
            information(this, QStringLiteral("Information"),
                        QStringLiteral("The current version is up to date. No update is required."));
        done(Rejected);
        break;
    default:  // cancelled: reject() closes the dialog
        break;
    }
}

void UpdateDialog::onDownloadClicked()
{
    m_label->setText(QStringLiteral("Downloading update, please wait..."));
    m_progress->setValue(0);
    m_progress->show();
    m_download->setEnabled(false);
    m_check->download();
}

void UpdateDialog::onDownloadEnded()
{
    switch (m_check->state()) {
    case UpdateCheck::State::Started: done(Accepted); break;
    case UpdateCheck::State::NotStarted:
        // The dialog stays open with the reason; the user leaves it with Cancel.
        m_label->setText(m_check->errorText());
        m_download->setEnabled(false);
        if (m_check->keptFile().isEmpty()) {
            warning(this, QStringLiteral("Update"), m_check->errorText());
        } else if (question(this, QStringLiteral("Update"), m_check->errorText() + QStringLiteral("\n\nShow the file?"),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                   == QMessageBox::Yes) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_check->keptFile()).absolutePath()));
        }
        break;
    case UpdateCheck::State::DownloadFailed:
        warning(this, QStringLiteral("Update"),
                QStringLiteral("The update could not be downloaded: ") + m_check->errorText());
        done(Rejected);
        break;
    default:  // cancelled: reject() closes the dialog
        break;
    }
}

void UpdateDialog::fitToScreen()
{
    // As tall as the text needs, never taller than the screen leaves room for: the notes
    // scroll and Download and Cancel stay in reach.
    const QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1366, 768);
    const int chrome = height() - m_scroll->height();
    const int wanted = m_label->heightForWidth(m_scroll->viewport()->width()) + chrome + 8;
    resize(width(), qBound(height(), wanted, room.height() * 3 / 4));
}

void UpdateDialog::reject()
{
    m_check->cancel();
    QDialog::reject();
}

}  // namespace vl
