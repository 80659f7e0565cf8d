#include "httpserver.h"

#include "common/core/scheduler.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>

#include <zlib.h>

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
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 404: return "Not Found";
    default: return "Status";
    }
}

}  // namespace

QByteArray gzipped(const QByteArray &data)
{
    z_stream z{};
    // 16 + 15 window bits: a gzip member rather than a zlib stream.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        qFatal("deflateInit2 failed");
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        qFatal("deflate failed");
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

struct HttpTestServer::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray request;
    bool answering = false;  // the request is in
    bool headSent = false;
    QByteArray path;
    Reply reply;
    QByteArray body;       // what goes out before the filler (compressed with gzip)
    qint64 bodyTotal = 0;  // body + filler
    qint64 written = 0;    // body bytes written
    qint64 allowed = 0;    // trickling: body bytes allowed out so far
    bool chunked = false;
    bool ended = false;  // the last byte (or the cut) is written
    bool heldReported = false;
    vl::Timer *trickle = nullptr;
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
    m_lastHead = c->request.left(c->request.indexOf("\r\n\r\n"));
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
    if (c->reply.delayMs <= 0) {
        answer(c);
        return;
    }
    QTcpSocket *socket = c->socket;
    vl::scheduler().singleShot(c->reply.delayMs, socket, [this, socket] {
        for (Connection *open : qAsConst(m_connections))
            if (open->socket == socket)
                answer(open);
    });
}

void HttpTestServer::answer(Connection *c)
{
    const Reply &r = c->reply;
    if (r.gzip) {
        c->body = gzipped(r.body + QByteArray(int(r.filler), 'x'));
        c->bodyTotal = c->body.size();
    } else {
        c->body = r.body;
        c->bodyTotal = r.body.size() + r.filler;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonFor(r.status) + "\r\n";
    for (const auto &h : r.headers)
        head += h.first + ": " + h.second + "\r\n";
    if (r.gzip)
        head += "Content-Encoding: gzip\r\n";
    if (r.claimedLength >= 0) {
        head += "Content-Length: " + QByteArray::number(r.claimedLength) + "\r\n";
    } else if (r.closeDelimited) {
        // The body ends where the connection does.
    } else if (r.sendLength) {
        head += "Content-Length: " + QByteArray::number(c->bodyTotal) + "\r\n";
    } else {
        head += "Transfer-Encoding: chunked\r\n";
        c->chunked = true;
    }
    head += "Connection: close\r\n\r\n";
    c->socket->write(head);
    c->headSent = true;
    if (r.trickleMs > 0) {
        QTcpSocket *socket = c->socket;
        c->trickle = vl::scheduler().createTimer(socket);
        connect(c->trickle, &vl::Timer::timeout, this, [this, socket] {
            for (Connection *open : qAsConst(m_connections))
                if (open->socket == socket) {
                    ++open->allowed;
                    pump(open);
                }
        });
        c->trickle->start(r.trickleMs);
    }
    pump(c);
}

void HttpTestServer::writeBody(Connection *c, const QByteArray &piece)
{
    if (c->chunked) {
        // A chunk that a cut ends early announces the size it would have had.
        const qint64 cut = c->reply.cutAt;
        const bool cutHere = cut >= 0 && c->written + piece.size() >= cut && cut < c->bodyTotal;
        const qint64 size = cutHere ? std::min(kPiece, c->bodyTotal - c->written) : piece.size();
        c->socket->write(QByteArray::number(size, 16) + "\r\n" + piece);
        if (!cutHere)
            c->socket->write("\r\n");
    } else {
        c->socket->write(piece);
    }
    c->written += piece.size();
    m_bodySent += piece.size();
}

void HttpTestServer::pump(Connection *c)
{
    if (!c->headSent || !c->socket)
        return;
    if (c->ended) {
        finishBody(c);
        return;
    }
    const Reply &r = c->reply;
    const qint64 last = r.cutAt >= 0 ? std::min(c->bodyTotal, r.cutAt) : c->bodyTotal;
    while (c->written < last && c->socket->bytesToWrite() < kQueued) {
        qint64 end = std::min(last, c->written + kPiece);
        if (r.trickleMs > 0)
            end = std::min(end, c->allowed);
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
        if (end <= c->written)
            return;  // trickling: the next byte waits for its tick
        QByteArray piece;
        if (c->written < c->body.size())
            piece = c->body.mid(int(c->written), int(std::min<qint64>(end, c->body.size()) - c->written));
        else
            piece = QByteArray(int(end - c->written), 'x');
        writeBody(c, piece);
    }
    if (c->written >= last)
        finishBody(c);
}

void HttpTestServer::finishBody(Connection *c)
{
    if (!c->ended) {
        c->ended = true;
        if (c->trickle)
            c->trickle->stop();
        // A chunked body that is cut short ends without its last chunk.
        if (c->chunked && c->written >= c->bodyTotal)
            c->socket->write("0\r\n\r\n");
    }
    if (c->socket->bytesToWrite() == 0)
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
