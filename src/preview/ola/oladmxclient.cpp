#include "oladmxclient.h"

#include <ola/Callback.h>
#include <ola/DmxBuffer.h>
#include <ola/client/ClientTypes.h>
#include <ola/client/OlaClient.h>
#include <ola/io/SelectServer.h>
#include <ola/network/IPV4Address.h>
#include <ola/network/SocketAddress.h>
#include <ola/network/TCPSocket.h>

#include <QElapsedTimer>

#include <csignal>
#include <ctime>
#include <pthread.h>
#include <vector>

namespace vl {

namespace {

// A write to a daemon that has just closed its end raises SIGPIPE, which ends a program
// by default. The signal is held back on this thread while a frame is written, and one
// raised by the write is taken off again, so the program's own handling stays as it was.
class SigpipeHeldBack {
public:
    SigpipeHeldBack()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        m_blocked = pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous) == 0;
    }
    ~SigpipeHeldBack()
    {
        if (!m_blocked)
            return;
        if (!m_wasPending) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec now = {0, 0};
                sigtimedwait(&m_pipe, nullptr, &now);
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    SigpipeHeldBack(const SigpipeHeldBack &) = delete;
    SigpipeHeldBack &operator=(const SigpipeHeldBack &) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_wasPending = false;
    bool m_blocked = false;
};

}  // namespace

// OLA's callback client on a connection of our own (its wrapper classes would only ever
// reach the default port): frames are streamed, and a connection is closed only after the
// daemon has answered a request sent behind the last frame, since it drops what a client
// sent just before it went.
struct OlaDmxClient::Connection {
    static constexpr int kAnswerWaitMs = 500;

    ola::io::SelectServer server;
    std::unique_ptr<ola::network::TCPSocket> socket;
    std::unique_ptr<ola::client::OlaClient> client;
    ola::DmxBuffer buffer;
    bool closed = false;
    bool answered = false;
    bool unanswered = false;  // frames sent since the daemon last answered

    void Closed() { closed = true; }
    void Answered(const ola::client::Result &, const std::vector<ola::client::OlaUniverse> &) { answered = true; }

    // Whatever the daemon said meanwhile, a closed connection included.
    void poll() { server.RunOnce(ola::TimeInterval(0, 0)); }

    // Waits (at most kAnswerWaitMs) until the daemon has taken in every frame sent.
    void settle()
    {
        if (!unanswered || closed)
            return;
        answered = false;
        client->FetchUniverseList(ola::NewSingleCallback(this, &Connection::Answered));
        QElapsedTimer waited;
        waited.start();
        while (!answered && !closed && waited.elapsed() < kAnswerWaitMs)
            server.RunOnce(ola::TimeInterval(0, 10000));
        unanswered = false;
    }

    ~Connection()
    {
        if (socket)
            server.RemoveReadDescriptor(socket.get());
        if (client)
            client->Stop();
        client.reset();
        socket.reset();
    }
};

OlaDmxClient::OlaDmxClient(quint16 port) : m_port(port) {}

OlaDmxClient::~OlaDmxClient() { disconnectFromDaemon(); }

bool OlaDmxClient::connectToDaemon()
{
    disconnectFromDaemon();
    SigpipeHeldBack held;
    auto c = std::make_unique<Connection>();
    // Only ever the daemon that runs: OLA's own connect would start one.
    c->socket.reset(ola::network::TCPSocket::Connect(
        ola::network::IPV4SocketAddress(ola::network::IPV4Address::Loopback(), m_port)));
    if (!c->socket)
        return false;
    c->client = std::make_unique<ola::client::OlaClient>(c->socket.get());
    if (!c->client->Setup())
        return false;
    c->client->SetCloseHandler(ola::NewSingleCallback(c.get(), &Connection::Closed));
    c->server.AddReadDescriptor(c->socket.get());
    m_connection = std::move(c);
    return true;
}

void OlaDmxClient::disconnectFromDaemon()
{
    if (!m_connection)
        return;
    SigpipeHeldBack held;
    m_connection->settle();
    m_connection.reset();
}

bool OlaDmxClient::isConnected() const { return bool(m_connection); }

bool OlaDmxClient::sendFrame(unsigned universe, const DmxFrame &levels)
{
    if (!m_connection)
        return false;
    Connection &c = *m_connection;
    {
        SigpipeHeldBack held;
        c.poll();
        if (!c.closed) {
            c.buffer.Set(levels.data(), unsigned(levels.size()));
            c.client->SendDMX(universe, c.buffer, ola::client::SendDMXArgs());
            c.unanswered = true;
            c.poll();
        }
    }
    if (c.closed) {
        m_connection.reset();
        return false;
    }
    return true;
}

}  // namespace vl
