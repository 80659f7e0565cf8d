#include "httpserver.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>

namespace vl::test {

namespace {

constexpr qint64 kPiece = 64 * 1024;
constexpr qint64 kQueued = 256 * 1024;  // written ahead of the client at most

QByteArray tlsFile(const char *name)
{
    QFile f(QStringLiteral(VL_TEST_TLS_DIR "/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("test certificate missing: %s", qPrintable(f.fileName()));
    return f.readAll();
}

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 404: return "Not Found";
    default: return "Status";
    }
}

}  // namespace

struct HttpTestServer::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray request;
    bool answering = false;
    QByteArray path;
    Reply reply;
    qint64 bodyTotal = 0;  // body + filler
    qint64 written = 0;    // body bytes written
    bool heldReported = false;
};

HttpTestServer::HttpTestServer(QObject *parent) : QTcpServer(parent) {}

HttpTestServer::~HttpTestServer()
{
    for (Connection *c : m_connections) {
        c->socket->disconnect(this);
        delete c;
    }
}

bool HttpTestServer::start(bool tls)
{
    m_tls = tls;
    return listen(QHostAddress::LocalHost, 0);
}

QUrl HttpTestServer::url() const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? "https" : "http").arg(serverPort()));
}

void HttpTestServer::serve(const QByteArray &path, const Reply &reply) { m_replies[path] = reply; }

void HttpTestServer::serve(const QByteArray &path, const QByteArray &body)
{
    Reply r;
    r.body = body;
    serve(path, r);
}

void HttpTestServer::redirect(const QByteArray &path, const QUrl &to, int status)
{
    Reply r;
    r.status = status;
    r.headers.append({"Location", to.toEncoded()});
    serve(path, r);
}

void HttpTestServer::release()
{
    m_released = true;
    for (Connection *c : m_connections)
        if (c->answering)
            pump(c);
}

void HttpTestServer::incomingConnection(qintptr descriptor)
{
    auto *c = new Connection;
    if (m_tls) {
        auto *ssl = new QSslSocket(this);
        c->socket = ssl;
        ssl->setSocketDescriptor(descriptor);
        ssl->setLocalCertificate(QSslCertificate(tlsFile("localhost.crt"), QSsl::Pem));
        ssl->setPrivateKey(QSslKey(tlsFile("localhost.key"), QSsl::Ec, QSsl::Pem));
        ssl->setProtocol(QSsl::TlsV1_2OrLater);
        ssl->startServerEncryption();
    } else {
        c->socket = new QTcpSocket(this);
        c->socket->setSocketDescriptor(descriptor);
    }
    m_connections.append(c);
    connect(c->socket, &QIODevice::readyRead, this, [this, c] { onReadable(c); });
    connect(c->socket, &QIODevice::bytesWritten, this, [this, c] { pump(c); });
    connect(c->socket, &QAbstractSocket::disconnected, this, [this, c] { drop(c); });
}

void HttpTestServer::onReadable(Connection *c)
{
    c->request += c->socket->readAll();
    if (c->answering || !c->request.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> requestLine = c->request.left(c->request.indexOf("\r\n")).split(' ');
    c->path = requestLine.value(1);
    m_requests.append(c->path);
    emit requested(c->path);

    c->answering = true;
    if (m_replies.contains(c->path)) {
        c->reply = m_replies.value(c->path);
    } else {
        c->reply = Reply();
        c->reply.status = 404;
        c->reply.body = "not here\n";
    }
    const Reply &r = c->reply;
    c->bodyTotal = r.body.size() + r.filler;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonFor(r.status) + "\r\n";
    for (const auto &h : r.headers)
        head += h.first + ": " + h.second + "\r\n";
    if (r.claimedLength >= 0)
        head += "Content-Length: " + QByteArray::number(r.claimedLength) + "\r\n";
    else if (r.sendLength)
        head += "Content-Length: " + QByteArray::number(c->bodyTotal) + "\r\n";
    head += "Connection: close\r\n\r\n";
    c->socket->write(head);
    pump(c);
}

void HttpTestServer::pump(Connection *c)
{
    if (!c->answering || !c->socket)
        return;
    const Reply &r = c->reply;
    while (c->written < c->bodyTotal && c->socket->bytesToWrite() < kQueued) {
        qint64 end = std::min(c->bodyTotal, c->written + kPiece);
        if (r.holdAt >= 0 && !m_released) {
            if (c->written >= r.holdAt) {
                if (!c->heldReported && c->socket->bytesToWrite() == 0) {
                    c->heldReported = true;
                    emit holding(c->path);
                }
                return;
            }
            end = std::min(end, r.holdAt);
        }
        QByteArray piece;
        if (c->written < r.body.size())
            piece = r.body.mid(int(c->written), int(std::min<qint64>(end, r.body.size()) - c->written));
        else
            piece = QByteArray(int(end - c->written), 'x');
        c->socket->write(piece);
        c->written += piece.size();
        m_bodySent += piece.size();
    }
    if (c->written >= c->bodyTotal && c->socket->bytesToWrite() == 0)
        c->socket->disconnectFromHost();
}

void HttpTestServer::drop(Connection *c)
{
    m_connections.removeOne(c);
    c->socket->disconnect(this);
    c->socket->deleteLater();
    delete c;
}

void trustTestCertificate()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificate(QSslCertificate(tlsFile("localhost.crt"), QSsl::Pem));
    QSslConfiguration::setDefaultConfiguration(config);
}

}  // namespace vl::test
