#include "releasecheck.h"

#include <QNetworkAccessManager>

namespace vl::update {

DownloadTarget::~DownloadTarget() = default;

ReleaseCheck::ReleaseCheck(QNetworkAccessManager *manager, const ReleaseSource &source, QObject *parent)
    : QObject(parent), m_manager(manager), m_source(source)
{
}

ReleaseCheck::~ReleaseCheck() = default;

std::unique_ptr<DownloadTarget> ReleaseCheck::takeTarget()
{
    return m_state == State::Downloaded ? std::move(m_target) : nullptr;
}

QString ReleaseCheck::fileName() const
{
    return m_release.hasRelease() && m_source.fileName ? m_source.fileName(m_release) : QString();
}

AnnouncedHash ReleaseCheck::announced() const { return announcedSha256(m_text, fileName()); }

GuardedGet *ReleaseCheck::fetch(const QString &path, qint64 limit, int deadlineMs, GuardedGet::Consumer consume)
{
    GuardedGet::Options options;
    options.consume = std::move(consume);
    options.maxBytes = limit;
    options.allowHttp = m_source.server.allowsHttp();
    options.idleTimeoutMs = m_source.idleTimeoutMs;
    options.deadlineMs = deadlineMs;
    m_get = new GuardedGet(m_manager, m_source.server.url(path), options, this);
    return m_get;
}

void ReleaseCheck::start(std::function<bool(const ReleaseText &)> isNewer)
{
    if (m_state != State::Idle)
        return;
    m_isNewer = std::move(isNewer);
    m_state = State::Checking;
    if (!m_source.server.isValid()) {
        // Reported as any other failed fetch, from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_state != State::Checking)
                    return;
                m_error = m_source.server.error();
                m_state = State::Failed;
                emit checked();
            },
            Qt::QueuedConnection);
        return;
    }
    GuardedGet *get = fetch(m_source.textPath, m_source.textLimit, m_source.textDeadlineMs);
    connect(get, &GuardedGet::finished, this, &ReleaseCheck::onTextFetched);
    get->start();
}

void ReleaseCheck::onTextFetched()
{
    GuardedGet *get = m_get;
    get->deleteLater();
    if (get->outcome() != GuardedGet::Outcome::Finished) {
        m_error = get->errorText();
        m_state = get->outcome() == GuardedGet::Outcome::Aborted ? State::Cancelled : State::Failed;
        emit checked();
        return;
    }
    m_text = QString::fromUtf8(get->body());
    m_release = m_source.parse(m_text);
    if (!m_release.hasRelease())
        m_state = State::NoRelease;
    else
        m_state = m_isNewer && m_isNewer(m_release) ? State::Offered : State::UpToDate;
    emit checked();
}

bool ReleaseCheck::download(std::unique_ptr<DownloadTarget> target)
{
    if (m_state != State::Offered || !target)
        return false;
    m_percent = 0;
    m_target = std::move(target);
    if (!m_target->open(&m_error)) {
        m_target.reset();
        m_state = State::Refused;
        emit downloadEnded();
        return false;
    }
    m_state = State::Downloading;

    // The pieces go to the target as they arrive; the request keeps none of them.
    DownloadTarget *file = m_target.get();
    GuardedGet *get = fetch(m_source.filePath(m_release), m_source.fileLimit, m_source.fileDeadlineMs,
                            [file](const QByteArray &piece, QString *error) { return file->write(piece, error); });
    connect(get, &GuardedGet::progress, this, [this](qint64 bytes, qint64 total) {
        emit received(bytes, total);
        if (total <= 0)
            return;
        const int percent = int(qBound<qint64>(0, bytes * 100 / total, 100));
        if (percent != m_percent) {
            m_percent = percent;
            emit percentChanged(percent);
        }
    });
    connect(get, &GuardedGet::finished, this, &ReleaseCheck::onFileFetched);
    get->start();
    return true;
}

void ReleaseCheck::onFileFetched()
{
    GuardedGet *get = m_get;
    get->deleteLater();
    if (get->outcome() != GuardedGet::Outcome::Finished) {
        m_target->discard();
        m_target.reset();
        m_error = get->errorText();
        m_state = get->outcome() == GuardedGet::Outcome::Aborted ? State::Cancelled : State::DownloadFailed;
        emit downloadEnded();
        return;
    }
    if (!m_target->finish(announced(), &m_error)) {
        m_target->discard();
        m_target.reset();
        m_state = State::Refused;
        emit downloadEnded();
        return;
    }
    m_state = State::Downloaded;
    emit downloadEnded();
}

void ReleaseCheck::cancel()
{
    if (m_get && isRunning())
        m_get->abort();  // ends in Cancelled through the finished handlers
}

}  // namespace vl::update
