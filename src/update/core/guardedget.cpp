#include "guardedget.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include "common/core/scheduler.h"

namespace vl::update {

namespace {

constexpr qint64 kReadBuffer = 256 * 1024;

QString sizeText(qint64 bytes)
{
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

int statusOf(const QNetworkReply *reply) { return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); }

bool successStatus(const QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return !status.isValid() || (status.toInt() >= 200 && status.toInt() < 300);
}

bool redirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QString secondsText(int ms) { return QString::number(ms / 1000.0); }

}  // namespace

GuardedGet::GuardedGet(QNetworkAccessManager *manager, const QUrl &url, const Options &options, QObject *parent)
    : QObject(parent), m_manager(manager), m_url(url), m_at(url), m_options(options)
{
    m_options.maxBytes = qBound<qint64>(0, m_options.maxBytes, kLargestBody);
}

GuardedGet::~GuardedGet() { dropReply(); }

bool GuardedGet::schemeAllowed(const QUrl &url) const
{
    if (url.scheme() == QLatin1String("https"))
        return true;
    return url.scheme() == QLatin1String("http") && m_options.allowHttp;
}

QString GuardedGet::name() const
{
    const QString file = m_url.fileName();
    return file.isEmpty() ? m_url.toDisplayString() : file;
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

    m_idle = scheduler().createTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(m_options.idleTimeoutMs);
    connect(m_idle, &Timer::timeout, this, [this] {
        end(Outcome::Failed,
            QStringLiteral("The update server did not answer for %1 s.").arg(secondsText(m_options.idleTimeoutMs)));
    });
    m_deadline = scheduler().createTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &Timer::timeout, this, [this] {
        end(Outcome::Failed, QStringLiteral("The update server took more than %1 s for %2; the transfer was stopped.")
                                 .arg(secondsText(m_options.deadlineMs), name()));
    });
    m_deadline->start(m_options.deadlineMs);
    send(m_url);
}

void GuardedGet::send(const QUrl &url)
{
    m_at = url;
    m_total = -1;
    m_received = 0;
    m_chunked = false;
    QNetworkRequest request(url);
    // Redirects are followed here: the network layer's own handling fails on chains.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // The body as it is: nothing is unpacked before the bounds count it.
    request.setRawHeader("Accept-Encoding", "identity");
    m_reply = m_manager->get(request);
    m_reply->setReadBufferSize(kReadBuffer);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &GuardedGet::onMetaData);
    connect(m_reply, &QIODevice::readyRead, this, &GuardedGet::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &GuardedGet::onReplyFinished);
    m_idle->start();
}

void GuardedGet::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

void GuardedGet::abort()
{
    if (m_outcome == Outcome::Running)
        end(Outcome::Aborted, QStringLiteral("Operation canceled"));
}

void GuardedGet::onMetaData()
{
    if (!m_reply)
        return;
    const int status = statusOf(m_reply);
    if (redirectStatus(status)) {
        QUrl target = m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (target.isEmpty())
            target = QUrl::fromEncoded(m_reply->rawHeader("Location"));
        if (!target.isEmpty()) {
            followRedirect(target);
            return;
        }
    }
    if (!successStatus(m_reply))
        return;  // reported when the reply ends
    m_idle->start();
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        end(Outcome::Failed, QStringLiteral("The update server sent %1 compressed (%2) although it was asked not to; "
                                            "it was not used.")
                                 .arg(name(), QString::fromLatin1(encoding)));
        return;
    }
    m_chunked = m_reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    bool ok = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    m_total = ok && length >= 0 && !m_chunked ? length : -1;
    if (m_total > m_options.maxBytes)
        end(Outcome::TooLarge, QStringLiteral("The update server announced %1 for %2, more than the %3 allowed.")
                                   .arg(sizeText(m_total), name(), sizeText(m_options.maxBytes)));
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
                    .arg(sizeText(m_options.maxBytes), name()));
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

bool GuardedGet::followRedirect(const QUrl &target)
{
    const QUrl from = m_at;
    const QUrl to = from.resolved(target);
    dropReply();
    if (++m_redirects > kMaxRedirects) {
        end(Outcome::Failed, QStringLiteral("The update server redirected %1 more than %2 times.")
                                 .arg(m_url.toDisplayString())
                                 .arg(kMaxRedirects));
        return false;
    }
    const bool downgrade = from.scheme() == QLatin1String("https") && to.scheme() != QLatin1String("https");
    if (!to.isValid() || downgrade || !schemeAllowed(to)) {
        end(Outcome::Failed, QStringLiteral("The update server redirected %1 to %2, which is not allowed.")
                                 .arg(from.toDisplayString(), to.toDisplayString()));
        return false;
    }
    send(to);
    return true;
}

void GuardedGet::onReplyFinished()
{
    if (!m_reply || m_outcome != Outcome::Running)
        return;
    onReadyRead();
    if (m_outcome != Outcome::Running || !m_reply)
        return;
    const QNetworkReply::NetworkError error = m_reply->error();
    const bool success = successStatus(m_reply);
    // A body shorter than announced, or one whose end nobody can tell, is not used.
    const bool shortOfLength = m_total >= 0 && m_received < m_total;
    const bool endUnknown = m_total < 0 && !m_chunked;
    if (success && (shortOfLength || endUnknown)
        && (error == QNetworkReply::NoError || error == QNetworkReply::RemoteHostClosedError)) {
        end(Outcome::Failed,
            shortOfLength ? QStringLiteral("%1: the download was cut short (%2 of %3 bytes).")
                                .arg(name())
                                .arg(m_received)
                                .arg(m_total)
                          : QStringLiteral("%1: the download was cut short, or cannot be told whole: the server sent "
                                           "%2 bytes without saying how many to expect.")
                                .arg(name())
                                .arg(m_received));
        return;
    }
    if (success && error == QNetworkReply::RemoteHostClosedError) {
        end(Outcome::Failed, QStringLiteral("%1: the download was cut short (the connection closed after %2 bytes).")
                                 .arg(name())
                                 .arg(m_received));
        return;
    }
    if (error != QNetworkReply::NoError) {
        end(Outcome::Failed, m_reply->errorString());
        return;
    }
    if (!success) {
        end(Outcome::Failed,
            QStringLiteral("The update server answered %1 for %2.").arg(statusOf(m_reply)).arg(m_at.toDisplayString()));
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
    if (m_deadline)
        m_deadline->stop();
    dropReply();
    if (outcome != Outcome::Finished)
        m_body.clear();
    emit finished();
}

}  // namespace vl::update
