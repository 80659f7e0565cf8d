#include "updateserver.h"

#include <QByteArray>

namespace vl::update {

namespace {

const char kBuiltInBase[] = "https://update.nemora.example";
const char kEnvironmentName[] = "VARILUME_UPDATE_URL";

}  // namespace

UpdateServer UpdateServer::builtIn()
{
    UpdateServer server;
    server.m_base = QUrl(QString::fromLatin1(kBuiltInBase));
    // The built-in address is never plain http, whatever it is edited to.
    if (server.m_base.scheme() != QLatin1String("https") || server.m_base.host().isEmpty())
        server.m_error = QStringLiteral("The built-in update server is not an https address: %1")
                             .arg(QString::fromLatin1(kBuiltInBase));
    return server;
}

UpdateServer UpdateServer::fromEnvironment()
{
    const QString text = qEnvironmentVariable(kEnvironmentName).trimmed();
    return text.isEmpty() ? builtIn() : fromText(text);
}

UpdateServer UpdateServer::fromText(const QString &text)
{
    UpdateServer server;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()
        || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty()) {
        server.m_error =
            QStringLiteral("%1 is not an http or https address: %2").arg(QString::fromLatin1(kEnvironmentName), text);
        return server;
    }
    server.m_base = url;
    server.m_allowHttp = true;
    return server;
}

QUrl UpdateServer::url(const QString &path) const
{
    if (!isValid())
        return {};
    QUrl url = m_base;
    QString prefix = url.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    url.setPath(prefix + path);
    return url;
}

}  // namespace vl::update
