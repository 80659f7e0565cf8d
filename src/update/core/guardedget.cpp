#include "guardedget.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include "common/core/scheduler.h"

namespace vl::update {

namespace {

constexpr qint64 kReadBuffer = 256 * 1024;
constexpr int kMaxRedirects = 5;

QString sizeText(qint64 bytes)
{
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

bool successStatus(const QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return !status.isValid() || (status.toInt() >= 200 && status.toInt() < 300);
}

}  // namespace

GuardedGet::GuardedGet(QNetworkAccessManager *manager, const QUrl &url, const Options &options, QObject *parent)
    : QObject(parent), m_manager(manager), m_url(url), m_at(url), m_options(options)
{
    m_options.maxBytes = qBound<qint64>(0, m_options.maxBytes, kLargestBody);
}

GuardedGet::~GuardedGet()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

bool GuardedGet::schemeAllowed(const QUrl &url) const
{
    if (url.scheme() == QLatin1String("https"))
        return true;
    return url.scheme() == QLatin1String("http") && m_options.allowHttp;
}

void GuardedGet::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_url.isValid() || !schemeAllowed(m_url)) {
        const QString why = m_url.scheme() == QLatin1String("http")
                                ? QStringLiteral("Plain http is not allowed for the update server: %1")
                                : QStringLiteral("Not an https address: %1");
        const QString text = why.arg(m_url.toDisplayString());
        // Reported from the event loop, as a network error would be.
        QTimer::singleShot(0, this, [this, text] {
            if (m_outcome == Outcome::Running)
                end(Outcome::Failed, text);
        });
        return;
    }

    QNetworkRequest request(m_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_reply = m_manager->get(request);
    m_reply->setReadBufferSize(kReadBuffer);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &GuardedGet::onMetaData);
    connect(m_reply, &QIODevice::readyRead, this, &GuardedGet::onReadyRead);
    connect(m_reply, &QNetworkReply::redirected, this, &GuardedGet::onRedirected);
    connect(m_reply, &QNetworkReply::finished, this, &GuardedGet::onReplyFinished);

    m_idle = scheduler().createTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(m_options.idleTimeoutMs);
    connect(m_idle, &Timer::timeout, this, [this] {
        end(Outcome::Failed,
            QStringLiteral("The update server did not answer for %1 s.").arg(m_options.idleTimeoutMs / 1000.0));
    });
    m_idle->start();
}

void GuardedGet::abort()
{
    if (m_outcome == Outcome::Running)
        end(Outcome::Aborted, QStringLiteral("Operation canceled"));
}

void GuardedGet::onMetaData()
{
    if (!m_reply || !successStatus(m_reply))
        return;
    m_idle->start();
    bool ok = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    m_total = ok && length >= 0 ? length : -1;
    if (m_total > m_options.maxBytes)
        end(Outcome::TooLarge, QStringLiteral("The update server announced %1 for %2, more than the %3 allowed.")
                                   .arg(sizeText(m_total), m_url.fileName(), sizeText(m_options.maxBytes)));
}

void GuardedGet::onReadyRead()
{
    while (m_reply && m_outcome == Outcome::Running && m_reply->bytesAvailable() > 0) {
        const QByteArray piece = m_reply->read(kReadBuffer);
        if (piece.isEmpty())
            break;
        m_idle->start();
        m_received += piece.size();
        if (m_received > m_options.maxBytes) {
            end(Outcome::TooLarge,
                QStringLiteral("The update server sent more than %1 for %2; the transfer was stopped.")
                    .arg(sizeText(m_options.maxBytes), m_url.fileName()));
            return;
        }
        if (!successStatus(m_reply))
            continue;  // an error page: counted against the bound, never used
        if (m_options.consume) {
            QString error;
            if (!m_options.consume(piece, &error)) {
                end(Outcome::Failed, error);
                return;
            }
        } else {
            m_body.append(piece);
        }
        emit progress(m_received, m_total);
    }
}

void GuardedGet::onRedirected(const QUrl &target)
{
    if (!m_reply)
        return;
    // The reply already carries the new address; the one redirected from is ours.
    const QUrl from = m_at;
    const QUrl to = from.resolved(target);
    if (++m_redirects > kMaxRedirects) {
        end(Outcome::Failed, QStringLiteral("The update server redirected %1 too often.").arg(m_url.toDisplayString()));
        return;
    }
    const bool downgrade = from.scheme() == QLatin1String("https") && to.scheme() != QLatin1String("https");
    if (downgrade || !schemeAllowed(to)) {
        end(Outcome::Failed, QStringLiteral("The update server redirected %1 to %2, which is not allowed.")
                                 .arg(from.toDisplayString(), to.toDisplayString()));
        return;
    }
    m_at = to;
    m_total = -1;
    m_idle->start();
    emit m_reply->redirectAllowed();
}

void GuardedGet::onReplyFinished()
{
    if (!m_reply || m_outcome != Outcome::Running)
        return;
    onReadyRead();
    if (m_outcome != Outcome::Running)
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        end(Outcome::Failed, m_reply->errorString());
        return;
    }
    if (!successStatus(m_reply)) {  // a redirect that was not followed, or an odd status
        end(Outcome::Failed, QStringLiteral("The update server answered %1 for %2.")
                                 .arg(m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())
                                 .arg(m_url.toDisplayString()));
        return;
    }
    emit progress(m_received, m_total);
    end(Outcome::Finished, {});
}

void GuardedGet::end(Outcome outcome, const QString &error)
{
    if (m_outcome != Outcome::Running)
        return;
    m_outcome = outcome;
    m_error = error;
    if (m_idle)
        m_idle->stop();
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    if (outcome != Outcome::Finished)
        m_body.clear();
    emit finished();
}

}  // namespace vl::update
