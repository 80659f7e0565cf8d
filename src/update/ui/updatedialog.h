#pragma once

// The dialog of one software update check: hidden while the update text is fetched, shown
// when a newer version is offered, then the installer's download with its progress.

#include "update/core/updatecheck.h"

#include <QDialog>

class QLabel;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace vl {

class UpdateDialog : public QDialog {
    Q_OBJECT
public:
    UpdateDialog(QNetworkAccessManager *manager, const update::UpdateSettings &settings, QWidget *parent);

    // Starts the check; the dialog shows itself only when it has something to offer (or,
    // for a manual check, to report).
    void run(update::CheckKind kind, const QString &currentVersionLabel);

    update::UpdateCheck *check() const { return m_check; }
    QLabel *label() const { return m_label; }
    // The label with the offer and the release notes sits in it.
    QScrollArea *notesArea() const { return m_scroll; }
    QProgressBar *progressBar() const { return m_progress; }
    QPushButton *downloadButton() const { return m_download; }
    QPushButton *cancelButton() const { return m_cancel; }

    static QString offerText(const update::UpdateCheck &check);

public slots:
    // Closing the dialog in any way ends a download that is running.
    void reject() override;

private:
    void onChecked();
    void onDownloadClicked();
    void onDownloadEnded();
    void fitToScreen();

    update::UpdateCheck *m_check;
    QScrollArea *m_scroll;
    QLabel *m_label;
    QProgressBar *m_progress;
    QPushButton *m_download;
    QPushButton *m_cancel;
};

}  // namespace vl
