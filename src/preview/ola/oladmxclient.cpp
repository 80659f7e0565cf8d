#include "oladmxclient.h"

#include <ola/DmxBuffer.h>
#include <ola/client/StreamingClient.h>

#include <csignal>
#include <ctime>
#include <pthread.h>

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

struct OlaDmxClient::Connection {
    explicit Connection(quint16 port) : client(options(port)) {}
    static ola::client::StreamingClient::Options options(quint16 port)
    {
        ola::client::StreamingClient::Options o;
        o.auto_start = false;  // the editor never starts the daemon
        o.server_port = port;
        return o;
    }
    ola::client::StreamingClient client;
    ola::DmxBuffer buffer;
};

OlaDmxClient::OlaDmxClient(quint16 port) : m_port(port) {}

OlaDmxClient::~OlaDmxClient() { disconnectFromDaemon(); }

bool OlaDmxClient::connectToDaemon()
{
    disconnectFromDaemon();
    auto connection = std::make_unique<Connection>(m_port);
    SigpipeHeldBack held;
    if (!connection->client.Setup())
        return false;
    m_connection = std::move(connection);
    return true;
}

void OlaDmxClient::disconnectFromDaemon()
{
    if (!m_connection)
        return;
    SigpipeHeldBack held;
    m_connection->client.Stop();
    m_connection.reset();
}

bool OlaDmxClient::isConnected() const { return bool(m_connection); }

bool OlaDmxClient::sendFrame(unsigned universe, const DmxFrame &levels)
{
    if (!m_connection)
        return false;
    m_connection->buffer.Set(levels.data(), unsigned(levels.size()));
    bool sent = false;
    {
        SigpipeHeldBack held;
        sent = m_connection->client.SendDmx(universe, m_connection->buffer);
    }
    if (!sent)
        disconnectFromDaemon();
    return sent;
}

}  // namespace vl
