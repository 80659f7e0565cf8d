#include "updatecheck.h"

#include "installer.h"
#include "version.h"

#include <QNetworkAccessManager>

namespace vl::update {

namespace {

const char kUpdateDir[] = "/download/Product/Varilume/Update/";
const char kReleasePrefix[] = "Varilume_V";

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
    : QObject(parent), m_manager(manager), m_settings(settings)
{
}

UpdateCheck::~UpdateCheck() = default;

void UpdateCheck::start(CheckKind kind, const QString &currentVersionLabel)
{
    if (m_state != State::Idle)
        return;
    m_kind = kind;
    m_current = currentVersionLabel;
    if (m_current.startsWith(QLatin1Char('V')) || m_current.startsWith(QLatin1Char('v')))
        m_current.remove(0, 1);
    setState(State::Checking);

    if (!m_settings.server.isValid()) {
        // Reported as any other failed fetch, from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_error = m_settings.server.error();
                setState(State::Failed);
                emit checked();
            },
            Qt::QueuedConnection);
        return;
    }
    GuardedGet::Options options;
    options.maxBytes = m_settings.textLimit;
    options.allowHttp = m_settings.server.allowsHttp();
    options.idleTimeoutMs = m_settings.idleTimeoutMs;
    m_get = new GuardedGet(m_manager, m_settings.server.url(updateTextPath()), options, this);
    connect(m_get, &GuardedGet::finished, this, &UpdateCheck::onTextFetched);
    m_get->start();
}

void UpdateCheck::onTextFetched()
{
    GuardedGet *get = m_get;
    get->deleteLater();
    if (get->outcome() != GuardedGet::Outcome::Finished) {
        m_error = get->errorText();
        setState(get->outcome() == GuardedGet::Outcome::Aborted ? State::Cancelled : State::Failed);
        emit checked();
        return;
    }
    m_text = QString::fromUtf8(get->body());
    m_release = parseReleaseText(m_text, QLatin1String(kReleasePrefix));
    if (!m_release.hasRelease()) {
        setState(State::NoRelease);
    } else {
        const bool newer = m_kind == CheckKind::Startup ? isNewerMajor(m_current, m_release.version)
                                                        : isNewerVersion(m_current, m_release.version);
        setState(newer ? State::Offered : State::UpToDate);
    }
    emit checked();
}

bool UpdateCheck::download()
{
    if (m_state != State::Offered)
        return false;
    m_percent = 0;
    m_installer = std::make_unique<InstallerFile>(installerFileName(m_release.version), m_settings.tempRoot);
    if (!m_installer->open(&m_error)) {
        m_installer.reset();
        setState(State::NotStarted);
        emit downloadEnded();
        return false;
    }
    setState(State::Downloading);

    GuardedGet::Options options;
    options.maxBytes = m_settings.installerLimit;
    options.allowHttp = m_settings.server.allowsHttp();
    options.idleTimeoutMs = m_settings.idleTimeoutMs;
    InstallerFile *file = m_installer.get();
    options.consume = [file](const QByteArray &piece, QString *error) { return file->write(piece, error); };
    m_get = new GuardedGet(m_manager, m_settings.server.url(installerPath(m_release.version)), options, this);
    connect(m_get, &GuardedGet::progress, this, [this](qint64 bytes, qint64 total) {
        emit received(bytes, total);
        if (total <= 0)
            return;
        const int percent = int(qBound<qint64>(0, bytes * 100 / total, 100));
        if (percent != m_percent) {
            m_percent = percent;
            emit percentChanged(percent);
        }
    });
    connect(m_get, &GuardedGet::finished, this, &UpdateCheck::onInstallerFetched);
    m_get->start();
    return true;
}

void UpdateCheck::onInstallerFetched()
{
    GuardedGet *get = m_get;
    get->deleteLater();
    if (get->outcome() != GuardedGet::Outcome::Finished) {
        m_installer->discard();
        m_installer.reset();
        m_error = get->errorText();
        setState(get->outcome() == GuardedGet::Outcome::Aborted ? State::Cancelled : State::DownloadFailed);
        emit downloadEnded();
        return;
    }
    const AnnouncedHash announced = announcedSha256(m_text, installerServerName(m_release.version));
    if (!m_installer->finish(announced, &m_error)) {
        m_installer.reset();
        setState(State::NotStarted);
        emit downloadEnded();
        return;
    }
    const QString path = m_installer->path();
    if (!startInstaller(path, &m_error)) {
        m_installer->discard();
        m_installer.reset();
        setState(State::NotStarted);
        emit downloadEnded();
        return;
    }
    m_installerPath = path;
    m_installer.reset();  // the finished installer stays where it is
    setState(State::Started);
    emit downloadEnded();
}

void UpdateCheck::cancel()
{
    if (m_get && (m_state == State::Checking || m_state == State::Downloading))
        m_get->abort();  // ends in Cancelled through the finished handlers
}

}  // namespace vl::update
