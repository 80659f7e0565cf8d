#pragma once

// One check for a newer editor and, on request, the download and start of its installer.
// The check reads the update text from the update server and decides whether its version
// is newer than the running one: at start-up only a greater major number counts, a manual
// check compares every part. The fetching, deciding and downloading is the shared
// ReleaseCheck's; this names the files, the comparison and the installer file, and
// starts the installer. Widget-free; the update dialog shows what it reports.

#include "releasecheck.h"
#include "releasetext.h"
#include "updateserver.h"

#include <QObject>

class QNetworkAccessManager;

namespace vl::update {

enum class CheckKind { Startup, Manual };

struct UpdateSettings {
    UpdateServer server = UpdateServer::builtIn();
    // The check at start-up runs unless VARILUME_NO_UPDATE_CHECK=1 (tests and builds
    // that must never reach a network); the manual check always runs.
    bool startupCheck = true;
    qint64 textLimit = qint64(1) << 20;                // the update text
    qint64 installerLimit = GuardedGet::kLargestBody;  // the installer
    int idleTimeoutMs = 30000;
    int textDeadlineMs = 60 * 1000;            // the update text, whole
    int installerDeadlineMs = 60 * 60 * 1000;  // the installer, whole
    QString tempRoot;                          // empty: the system's temporary location

    // The server from VARILUME_UPDATE_URL and the start-up switch from
    // VARILUME_NO_UPDATE_CHECK; the rest as above.
    static UpdateSettings fromEnvironment();
};

// Where the update text and the installers lie on the update server.
QString updateTextPath();
QString installerPath(const QString &version);

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Checking,
        Failed,     // the update text could not be fetched (errorText)
        NoRelease,  // the text names no usable version
        UpToDate,   // nothing newer for this kind of check
        Offered,    // a newer version is offered
        Downloading,
        Cancelled,       // the download was cancelled: nothing kept
        DownloadFailed,  // network error or oversized installer: nothing kept (errorText)
        NotStarted,      // downloaded but not started: empty, checksum differs, cannot save or start (errorText)
        Started,         // the installer runs
    };
    Q_ENUM(State)

    // `manager` belongs to the caller and must outlive the check.
    UpdateCheck(QNetworkAccessManager *manager, const UpdateSettings &settings, QObject *parent = nullptr);
    ~UpdateCheck() override;

    // Fetches the update text. `currentVersionLabel` is the about box's label ("V4.0.1").
    void start(CheckKind kind, const QString &currentVersionLabel);
    // After an offer: saves the installer and starts it once complete. False when the
    // installer cannot even be created (state NotStarted).
    bool download();
    // Ends a check or a download that is running; nothing is kept. Does nothing otherwise.
    void cancel();

    State state() const;
    CheckKind kind() const { return m_kind; }
    QString currentVersion() const { return m_current; }  // without the leading "V"
    ReleaseText release() const { return m_check->release(); }
    QString errorText() const { return m_error.isEmpty() ? m_check->errorText() : m_error; }
    // The installer that was started.
    QString installerFile() const { return m_installerPath; }
    // A downloaded installer that was not started because the server announced no
    // checksum for it: kept for the user (empty otherwise).
    QString keptFile() const { return m_keptFile; }
    // Progress of the download in percent; stays 0 while the server announces no length.
    int percent() const { return m_check->percent(); }

signals:
    // The check reached Failed, NoRelease, UpToDate or Offered.
    void checked();
    void percentChanged(int percent);
    // Bytes of the installer received so far and the length announced (-1 when none).
    void received(qint64 bytes, qint64 total);
    // The download reached Cancelled, DownloadFailed, NotStarted or Started.
    void downloadEnded();

private:
    void onDownloadEnded();

    UpdateSettings m_settings;
    ReleaseCheck *m_check;
    CheckKind m_kind = CheckKind::Manual;
    QString m_current;
    QString m_error;  // why a downloaded installer was not started
    QString m_installerPath;
    QString m_keptFile;
    bool m_startFailed = false;
};

}  // namespace vl::update
