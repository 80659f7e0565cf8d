#include "firmwarecheck.h"

#include "firmwaretransfer.h"
#include "update/core/version.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace vl::firmware {

namespace {

const char kFirmwareDir[] = "/download/Product/KVR-9000/Update/";
const char kReleasePrefix[] = "KVR-9000_V";

}  // namespace

QString firmwareInfoPath() { return QLatin1String(kFirmwareDir) + QStringLiteral("KVR-9000_Update.txt"); }

QString firmwareFileName(const QString &releaseName) { return releaseName + QStringLiteral(".bin"); }

QString firmwarePath(const QString &releaseName) { return QLatin1String(kFirmwareDir) + firmwareFileName(releaseName); }

update::ReleaseText parseFirmwareInfo(const QString &text)
{
    return update::parseReleaseText(text, QLatin1String(kReleasePrefix), QStringLiteral(";"));
}

bool isNewerFirmware(const QString &boxVersion, const update::ReleaseText &release)
{
    if (!release.hasRelease())
        return false;
    // The number after the "V" that begins the box's version text; without it, nothing.
    const QString current = boxVersion.startsWith(QLatin1Char('V')) ? boxVersion.mid(1) : QString();
    return update::isNewerVersion(current, release.version);
}

QString updateOfferText(const QString &boxVersion, const update::ReleaseText &release)
{
    return QStringLiteral("The current version is KVR-9000_%1\n").arg(boxVersion)
           + QStringLiteral("A new version is available: %1\n\n%2")
                 .arg(release.releaseName, QStringLiteral("Update Content:\n") + release.notes);
}

bool isSameVersionFile(const QString &path, const QString &model, const QString &version)
{
    QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    return name == model + QLatin1Char('_') + version;
}

FirmwareCheckSettings::FirmwareCheckSettings() : imageLimit(kLargestImage) {}

FirmwareCheckSettings FirmwareCheckSettings::fromEnvironment()
{
    FirmwareCheckSettings settings;
    settings.server = update::UpdateServer::fromEnvironment();
    return settings;
}

namespace {

update::ReleaseSource firmwareSource(const FirmwareCheckSettings &settings)
{
    update::ReleaseSource source;
    source.server = settings.server;
    source.textPath = firmwareInfoPath();
    source.textLimit = settings.infoLimit;
    source.fileLimit = settings.imageLimit;
    source.idleTimeoutMs = settings.idleTimeoutMs;
    source.textDeadlineMs = settings.infoDeadlineMs;
    source.fileDeadlineMs = settings.imageDeadlineMs;
    source.parse = parseFirmwareInfo;
    source.fileName = [](const update::ReleaseText &release) { return firmwareFileName(release.releaseName); };
    source.filePath = [](const update::ReleaseText &release) { return firmwarePath(release.releaseName); };
    return source;
}

// The image in memory, checked once whole: not empty, not over the bound, and with the
// checksum the information file announces (an image without one is never used).
class ImageTarget final : public update::DownloadTarget {
public:
    explicit ImageTarget(const QString &name) : m_name(name) {}
    bool open(QString *) override { return true; }
    bool write(const QByteArray &piece, QString *) override
    {
        m_image += piece;
        return true;
    }
    bool finish(const update::AnnouncedHash &announced, QString *error) override
    {
        const QString problem = imageProblem(m_image.size(), m_name);
        if (!problem.isEmpty()) {
            *error = problem;
            return false;
        }
        const QByteArray digest = QCryptographicHash::hash(m_image, QCryptographicHash::Sha256);
        if (announced.state == update::AnnouncedHash::Valid && announced.digest != digest) {
            *error = QStringLiteral("The downloaded firmware %1 does not match the SHA-256 checksum the update "
                                    "server announced for it, so it was not sent to the device. It may have been "
                                    "damaged or replaced on the way.")
                         .arg(m_name);
            return false;
        }
        // Only an image the server vouches for is ever sent.
        const QString unchecked = update::checksumProblem(announced, digest);
        if (!unchecked.isEmpty()) {
            *error =
                QStringLiteral("The downloaded firmware %1 was not sent to the device: %2.").arg(m_name, unchecked);
            return false;
        }
        return true;
    }
    void discard() override { m_image.clear(); }
    QByteArray image() const { return m_image; }

private:
    QString m_name;
    QByteArray m_image;
};

}  // namespace

FirmwareCheck::FirmwareCheck(QNetworkAccessManager *manager, const FirmwareCheckSettings &settings, QObject *parent)
    : QObject(parent), m_check(new update::ReleaseCheck(manager, firmwareSource(settings), this))
{
    connect(m_check, &update::ReleaseCheck::checked, this, [this] {
        if (m_check->state() != update::ReleaseCheck::State::Cancelled)
            emit checked();
    });
    connect(m_check, &update::ReleaseCheck::downloadEnded, this, &FirmwareCheck::onDownloadEnded);
}

FirmwareCheck::State FirmwareCheck::state() const
{
    using S = update::ReleaseCheck::State;
    switch (m_check->state()) {
    case S::Idle:
    case S::Cancelled: return State::Idle;
    case S::Checking: return State::Checking;
    case S::Failed: return State::Failed;
    case S::NoRelease: return State::NoRelease;
    case S::UpToDate: return State::UpToDate;
    case S::Offered: return State::Offered;
    case S::Downloading: return State::Downloading;
    case S::Downloaded: return State::Downloaded;
    case S::Refused: return State::Refused;
    case S::DownloadFailed: return State::DownloadFailed;
    }
    return State::Idle;
}

void FirmwareCheck::start(const QString &boxVersion)
{
    m_boxVersion = boxVersion;
    m_check->start([boxVersion](const update::ReleaseText &release) { return isNewerFirmware(boxVersion, release); });
}

void FirmwareCheck::download()
{
    if (m_check->state() == update::ReleaseCheck::State::Offered)
        m_check->download(std::make_unique<ImageTarget>(m_check->fileName()));
}

void FirmwareCheck::onDownloadEnded()
{
    if (m_check->state() == update::ReleaseCheck::State::Cancelled)
        return;
    if (m_check->state() == update::ReleaseCheck::State::Downloaded)
        m_image = static_cast<ImageTarget *>(m_check->target())->image();
    emit downloadEnded();
}

void FirmwareCheck::cancel() { m_check->cancel(); }

}  // namespace vl::firmware
