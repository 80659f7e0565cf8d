#pragma once

// The firmware update check. Once the upgrade dialog knows the box's firmware version it
// reads the firmware information file from the update server:
//
//     KVR-9000_V1.2.0;
//     SHA256: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
//     Update content:
//     1. ...
//
// The text must begin with the newest release's name and a ";". When that release is
// newer than the box's firmware it is offered; on request its image
// ("KVR-9000_V1.2.0.bin" beside the information file) is downloaded. An image whose
// SHA-256 differs from the one the file announces for it (a "SHA256:" line, or
// "SHA256 KVR-9000_V1.2.0.bin:" where one file serves several images) is never handed
// on. The fetching, deciding and downloading is the shared ReleaseCheck of the editor's
// own update (vl_update_core), with its server address, guarded downloads, release texts
// and version comparison; this names the files and keeps the image in memory. Widget-free.

#include "update/core/releasecheck.h"
#include "update/core/releasetext.h"
#include "update/core/updateserver.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

namespace vl::firmware {

// Where the firmware information file and the images lie on the update server.
QString firmwareInfoPath();
// "KVR-9000_V1.2.0.bin" for the release "KVR-9000_V1.2.0", and its path on the server.
QString firmwareFileName(const QString &releaseName);
QString firmwarePath(const QString &releaseName);

// The newest release the information file names ("KVR-9000_V<digits and dots>;" at its
// very start) and its release notes (after "Update content:").
update::ReleaseText parseFirmwareInfo(const QString &text);

// Whether `release` is newer than the box's firmware, whose version text ("V1.0.3") the
// box reported: the numbers after the "V", part by part, a missing part counting as 0.
bool isNewerFirmware(const QString &boxVersion, const update::ReleaseText &release);

// The text of the "Update Available" question.
QString updateOfferText(const QString &boxVersion, const update::ReleaseText &release);

// Whether a chosen file is named after the firmware the box runs: its name without the
// directory and without its last extension is `model` "_" `version`
// ("KVR-9000_V1.0.3.bin" for the model "KVR-9000" and the version "V1.0.3").
bool isSameVersionFile(const QString &path, const QString &model, const QString &version);

struct FirmwareCheckSettings {
    update::UpdateServer server = update::UpdateServer::builtIn();
    qint64 infoLimit = qint64(1) << 20;  // the information file
    qint64 imageLimit;                   // the image: kLargestImage
    int idleTimeoutMs = 30000;
    int infoDeadlineMs = 60 * 1000;        // the information file, whole
    int imageDeadlineMs = 10 * 60 * 1000;  // the image, whole

    FirmwareCheckSettings();
    // The server from VARILUME_UPDATE_URL, the rest as above.
    static FirmwareCheckSettings fromEnvironment();
};

class FirmwareCheck : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Checking,
        Failed,     // the information file could not be fetched (errorText)
        NoRelease,  // the file names no usable release
        UpToDate,   // nothing newer than the box's firmware
        Offered,    // a newer release is there
        Downloading,
        Downloaded,      // image() is the checked image
        DownloadFailed,  // network error, time-out, an image over the bound (errorText)
        Refused,         // the image arrived but may not be sent: empty, or its checksum differs (errorText)
    };
    Q_ENUM(State)

    // `manager` belongs to the caller and must outlive the check.
    FirmwareCheck(QNetworkAccessManager *manager, const FirmwareCheckSettings &settings, QObject *parent = nullptr);

    // Reads the information file for a box that reported `boxVersion` ("V1.0.3").
    void start(const QString &boxVersion);
    // After an offer: fetches the image.
    void download();
    // Ends a request that is running; nothing is reported.
    void cancel();

    State state() const;
    QString boxVersion() const { return m_boxVersion; }
    update::ReleaseText release() const { return m_check->release(); }
    QString errorText() const { return m_check->errorText(); }
    QByteArray image() const { return m_image; }

signals:
    // The check reached Failed, NoRelease, UpToDate or Offered.
    void checked();
    // The download reached Downloaded, DownloadFailed or Refused.
    void downloadEnded();

private:
    void onDownloadEnded();

    update::ReleaseCheck *m_check;
    QString m_boxVersion;
    QByteArray m_image;
};

}  // namespace vl::firmware
