#pragma once

// The DMX output's client for the Open Lighting Architecture's daemon, olad: OLA's client
// library over the daemon's RPC port on localhost (9010 unless the daemon was started with
// another), frames streamed without waiting for answers. It never starts the daemon (OLA's
// own connect would) and never waits for one: connecting to a port where nothing listens
// fails at once. Disconnecting waits (briefly) until the daemon has taken in the last
// frames, so a blackout sent just before is never lost.

#include "preview/core/dmxoutput.h"

#include <QtGlobal>

#include <memory>

namespace vl {

class OlaDmxClient final : public DmxClient {
public:
    static constexpr quint16 kDefaultPort = 9010;

    explicit OlaDmxClient(quint16 port = kDefaultPort);
    ~OlaDmxClient() override;
    OlaDmxClient(const OlaDmxClient &) = delete;
    OlaDmxClient &operator=(const OlaDmxClient &) = delete;

    quint16 port() const { return m_port; }

    bool connectToDaemon() override;
    void disconnectFromDaemon() override;
    bool isConnected() const override;
    bool sendFrame(unsigned universe, const DmxFrame &levels) override;

private:
    struct Connection;
    quint16 m_port;
    std::unique_ptr<Connection> m_connection;
};

}  // namespace vl
