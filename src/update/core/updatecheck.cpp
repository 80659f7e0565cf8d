#include "updatecheck.h"

#include "installer.h"
#include "version.h"

namespace vl::update {

namespace {

const char kUpdateDir[] = "/download/Product/Varilume/Update/";
const char kReleasePrefix[] = "Varilume_V";

ReleaseSource updateSource(const UpdateSettings &settings)
{
    ReleaseSource source;
    source.server = settings.server;
    source.textPath = updateTextPath();
    source.textLimit = settings.textLimit;
    source.fileLimit = settings.installerLimit;
    source.idleTimeoutMs = settings.idleTimeoutMs;
    source.textDeadlineMs = settings.textDeadlineMs;
    source.fileDeadlineMs = settings.installerDeadlineMs;
    source.parse = [](const QString &text) { return parseReleaseText(text, QLatin1String(kReleasePrefix)); };
    source.fileName = [](const ReleaseText &release) { return installerServerName(release.version); };
    source.filePath = [](const ReleaseText &release) { return installerPath(release.version); };
    return source;
}

}  // namespace

UpdateSettings UpdateSettings::fromEnvironment()
{
    UpdateSettings settings;
    settings.server = UpdateServer::fromEnvironment();
    settings.startupCheck = qEnvironmentVariable("VARILUME_NO_UPDATE_CHECK") != QLatin1String("1");
    return settings;
}

QString updateTextPath() { return QLatin1String(kUpdateDir) + QStringLiteral("Varilume_UpdateWin.txt"); }

QString installerPath(const QString &version) { return QLatin1String(kUpdateDir) + installerServerName(version); }

UpdateCheck::UpdateCheck(QNetworkAccessManager *manager, const UpdateSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_check(new ReleaseCheck(manager, updateSource(settings), this))
{
    connect(m_check, &ReleaseCheck::checked, this, &UpdateCheck::checked);
    connect(m_check, &ReleaseCheck::percentChanged, this, &UpdateCheck::percentChanged);
    connect(m_check, &ReleaseCheck::received, this, &UpdateCheck::received);
    connect(m_check, &ReleaseCheck::downloadEnded, this, &UpdateCheck::onDownloadEnded);
}

UpdateCheck::~UpdateCheck() = default;

UpdateCheck::State UpdateCheck::state() const
{
    switch (m_check->state()) {
    case ReleaseCheck::State::Idle: return State::Idle;
    case ReleaseCheck::State::Checking: return State::Checking;
    case ReleaseCheck::State::Failed: return State::Failed;
    case ReleaseCheck::State::NoRelease: return State::NoRelease;
    case ReleaseCheck::State::UpToDate: return State::UpToDate;
    case ReleaseCheck::State::Offered: return State::Offered;
    case ReleaseCheck::State::Downloading: return State::Downloading;
    case ReleaseCheck::State::Refused: return State::NotStarted;
    case ReleaseCheck::State::DownloadFailed: return State::DownloadFailed;
    case ReleaseCheck::State::Cancelled: return State::Cancelled;
    case ReleaseCheck::State::Downloaded: return m_startFailed ? State::NotStarted : State::Started;
    }
    return State::Idle;
}

void UpdateCheck::start(CheckKind kind, const QString &currentVersionLabel)
{
    if (m_check->state() != ReleaseCheck::State::Idle)
        return;
    m_kind = kind;
    m_current = currentVersionLabel;
    if (m_current.startsWith(QLatin1Char('V')) || m_current.startsWith(QLatin1Char('v')))
        m_current.remove(0, 1);
    const QString current = m_current;
    m_check->start([kind, current](const ReleaseText &release) {
        return kind == CheckKind::Startup ? isNewerMajor(current, release.version)
                                          : isNewerVersion(current, release.version);
    });
}

bool UpdateCheck::download()
{
    if (m_check->state() != ReleaseCheck::State::Offered)
        return false;
    return m_check->download(
        std::make_unique<InstallerFile>(installerFileName(m_check->release().version), m_settings.tempRoot));
}

void UpdateCheck::onDownloadEnded()
{
    if (m_check->state() == ReleaseCheck::State::Downloaded) {
        std::unique_ptr<DownloadTarget> target = m_check->takeTarget();
        auto *installer = static_cast<InstallerFile *>(target.get());
        const QString path = installer->path();
        const AnnouncedHash announced = m_check->announced();
        if (announced.state != AnnouncedHash::Valid) {
            // Only an installer the server vouches for is started; this one is kept for
            // the user to look at.
            m_error = QStringLiteral("The installer %1 was downloaded but not started: %2.")
                          .arg(m_check->fileName(), checksumProblem(announced, {}));
            m_keptFile = path;
            m_startFailed = true;
        } else if (startInstaller(path, installer->lockHandle(), &m_error)) {
            m_installerPath = path;  // the finished installer stays where it is
        } else {
            installer->discard();
            m_startFailed = true;
        }
    }
    emit downloadEnded();
}

void UpdateCheck::cancel() { m_check->cancel(); }

}  // namespace vl::update
