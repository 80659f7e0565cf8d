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

FirmwareCheck::FirmwareCheck(QNetworkAccessManager *manager, const FirmwareCheckSettings &settings, QObject *parent)
    : QObject(parent), m_manager(manager), m_settings(settings)
{
}

update::GuardedGet *FirmwareCheck::fetch(const QString &path, qint64 limit)
{
    update::GuardedGet::Options options;
    options.maxBytes = limit;
    options.allowHttp = m_settings.server.allowsHttp();
    options.idleTimeoutMs = m_settings.idleTimeoutMs;
    // An unusable server address gives an empty URL, which the request refuses.
    auto *get = new update::GuardedGet(m_manager, m_settings.server.url(path), options, this);
    m_get = get;
    return get;
}

void FirmwareCheck::start(const QString &boxVersion)
{
    if (m_state != State::Idle)
        return;
    m_boxVersion = boxVersion;
    m_state = State::Checking;
    update::GuardedGet *get = fetch(firmwareInfoPath(), m_settings.infoLimit);
    connect(get, &update::GuardedGet::finished, this, &FirmwareCheck::onInfoFetched);
    get->start();
}

void FirmwareCheck::onInfoFetched()
{
    update::GuardedGet *get = m_get;
    get->deleteLater();
    if (get->outcome() != update::GuardedGet::Outcome::Finished) {
        m_error = m_settings.server.isValid() ? get->errorText() : m_settings.server.error();
        m_state = State::Failed;
        emit checked();
        return;
    }
    m_text = QString::fromUtf8(get->body());
    m_release = parseFirmwareInfo(m_text);
    if (!m_release.hasRelease())
        m_state = State::NoRelease;
    else
        m_state = isNewerFirmware(m_boxVersion, m_release) ? State::Offered : State::UpToDate;
    emit checked();
}

void FirmwareCheck::download()
{
    if (m_state != State::Offered)
        return;
    m_state = State::Downloading;
    update::GuardedGet *get = fetch(firmwarePath(m_release.releaseName), m_settings.imageLimit);
    connect(get, &update::GuardedGet::finished, this, &FirmwareCheck::onImageFetched);
    get->start();
}

void FirmwareCheck::onImageFetched()
{
    update::GuardedGet *get = m_get;
    get->deleteLater();
    const QString name = firmwareFileName(m_release.releaseName);
    if (get->outcome() != update::GuardedGet::Outcome::Finished) {
        m_error = get->errorText();
        m_state = State::DownloadFailed;
        emit downloadEnded();
        return;
    }
    const QByteArray body = get->body();
    const QString problem = imageProblem(body.size(), name);
    const update::AnnouncedHash announced = update::announcedSha256(m_text, name);
    if (!problem.isEmpty()) {
        m_error = problem;
        m_state = State::Refused;
    } else if (!update::digestAccepted(announced, QCryptographicHash::hash(body, QCryptographicHash::Sha256))) {
        m_error = QStringLiteral("The downloaded firmware %1 does not match the SHA-256 checksum the update server "
                                 "announced for it, so it was not sent to the device. It may have been damaged or "
                                 "replaced on the way.")
                      .arg(name);
        m_state = State::Refused;
    } else {
        m_image = body;
        m_state = State::Downloaded;
    }
    emit downloadEnded();
}

void FirmwareCheck::cancel()
{
    if (m_get) {
        disconnect(m_get, nullptr, this, nullptr);
        m_get->abort();
        m_get->deleteLater();
    }
    if (m_state == State::Checking || m_state == State::Downloading)
        m_state = State::Idle;
}

}  // namespace vl::firmware
