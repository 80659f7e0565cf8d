#pragma once

// The one machine behind both update checks: it reads a release text from the update
// server, decides whether the release it names is newer, and on request downloads the
// file that release names into a target (the editor's installer into a private file, the
// box's firmware into memory). The target checks what arrived against the checksum the
// text announces and refuses it, or keeps it. The editor's software update (UpdateCheck)
// and the firmware update check (vl_firmware_core's FirmwareCheck) are thin users that
// name the files, the comparison and the target. Widget-free.
//
//   Idle -> Checking -> Failed | NoRelease | UpToDate | Offered | Cancelled
//   Offered -> Downloading -> Downloaded | Refused | DownloadFailed | Cancelled

#include "downloadtarget.h"
#include "guardedget.h"
#include "releasetext.h"
#include "updateserver.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace vl::update {

// What one kind of check reads and downloads.
struct ReleaseSource {
    UpdateServer server = UpdateServer::builtIn();
    QString textPath;  // the release text's path on the server
    qint64 textLimit = qint64(1) << 20;
    qint64 fileLimit = GuardedGet::kLargestBody;
    int idleTimeoutMs = 30000;
    // Each request ends at its deadline, however slowly the bytes keep coming.
    int textDeadlineMs = 60 * 1000;
    int fileDeadlineMs = 10 * 60 * 1000;
    // Reads the release from the text.
    std::function<ReleaseText(const QString &text)> parse;
    // The downloaded file's name (the one checksum lines name) and its path on the server.
    std::function<QString(const ReleaseText &release)> fileName;
    std::function<QString(const ReleaseText &release)> filePath;
};

class ReleaseCheck : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Checking,
        Failed,     // the release text could not be fetched (errorText)
        NoRelease,  // the text names no usable release
        UpToDate,   // nothing newer
        Offered,    // a newer release is there
        Downloading,
        Downloaded,      // the target holds the whole, checked file
        Refused,         // the target refused the file, or could not be opened (errorText)
        DownloadFailed,  // network error, time-out, a file over the bound (errorText)
        Cancelled,       // cancel() ended the check or the download; nothing kept
    };
    Q_ENUM(State)

    // `manager` belongs to the caller and must outlive the check.
    ReleaseCheck(QNetworkAccessManager *manager, const ReleaseSource &source, QObject *parent = nullptr);
    ~ReleaseCheck() override;

    // Fetches the release text; `isNewer` decides whether its release is offered.
    void start(std::function<bool(const ReleaseText &release)> isNewer);
    // After an offer: downloads the file into `target`. False when the target cannot even
    // be opened (state Refused, downloadEnded() already emitted).
    bool download(std::unique_ptr<DownloadTarget> target);
    // Ends a check or a download that is running (state Cancelled, reported like any other
    // end); nothing is kept. Does nothing otherwise.
    void cancel();

    State state() const { return m_state; }
    bool isRunning() const { return m_state == State::Checking || m_state == State::Downloading; }
    // The release text as fetched, and what was read from it.
    QString text() const { return m_text; }
    ReleaseText release() const { return m_release; }
    QString fileName() const;
    // The checksum the release text announces for that file.
    AnnouncedHash announced() const;
    QString errorText() const { return m_error; }
    // The target of the last download, once it holds the finished file (Downloaded).
    DownloadTarget *target() const { return m_state == State::Downloaded ? m_target.get() : nullptr; }
    // Hands the finished target over (null unless Downloaded); a target left here goes
    // with the check.
    std::unique_ptr<DownloadTarget> takeTarget();
    // Progress of the download in percent; stays 0 while the server announces no length.
    int percent() const { return m_percent; }

signals:
    // The check reached Failed, NoRelease, UpToDate, Offered or Cancelled.
    void checked();
    void percentChanged(int percent);
    // Bytes of the file received so far and the length announced (-1 when none).
    void received(qint64 bytes, qint64 total);
    // The download reached Downloaded, Refused, DownloadFailed or Cancelled.
    void downloadEnded();

private:
    GuardedGet *fetch(const QString &path, qint64 limit, int deadlineMs, GuardedGet::Consumer consume = {});
    void onTextFetched();
    void onFileFetched();

    QNetworkAccessManager *m_manager;
    ReleaseSource m_source;
    std::function<bool(const ReleaseText &)> m_isNewer;
    State m_state = State::Idle;
    QString m_text;
    ReleaseText m_release;
    QString m_error;
    int m_percent = 0;
    QPointer<GuardedGet> m_get;
    std::unique_ptr<DownloadTarget> m_target;
};

}  // namespace vl::update
