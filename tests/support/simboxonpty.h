#pragma once

// The simulated box (SimBox, the program's own protocol class) inside the test's process,
// on a pseudo-terminal: it answers whatever the editor or the tool writes as soon as it
// arrives, each of its writes read on its own before the next, pauses left out. With
// everything in one process a test knows exactly when the box has decided to say nothing
// (a request it was told to be silent on), and can move a ManualScheduler's clock then
// instead of waiting out a real time limit. Header-only: tests that link vl_simbox
// include it.

#include "ptypeer.h"
#include "simbox.h"

#include <QSocketNotifier>
#include <QtTest>

#include <functional>
#include <memory>

namespace vl::test {

class SimBoxOnPty {
public:
    explicit SimBoxOnPty(const BoxOptions &options = BoxOptions()) : m_box(options) {}

    void start()
    {
        QVERIFY2(m_peer.open(), qPrintable(m_peer.lastError()));
        m_notifier = std::make_unique<QSocketNotifier>(m_peer.masterHandle(), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { serve(); });
    }

    QString port() const { return m_peer.slavePath(); }
    SimBox &box() { return m_box; }

    // Runs when the box has taken whole requests and answers none of them.
    std::function<void()> onSilence;
    // Runs before each piece the box writes (where a real box would pause).
    std::function<void()> beforePiece;

private:
    void serve()
    {
        m_notifier->setEnabled(false);  // writing below lets the event loop run
        for (QByteArray in; !(in = m_peer.takeAll()).isEmpty();) {
            const QList<BoxPiece> answer = m_box.receive(in);
            for (const BoxPiece &piece : answer) {
                if (beforePiece)
                    beforePiece();
                if (!m_peer.write(piece.bytes) || !m_peer.waitUntilRead())
                    break;
            }
            if (answer.isEmpty() && m_box.idleTimeoutMs() < 0 && onSilence)
                onSilence();
        }
        m_notifier->setEnabled(true);
    }

    PtyPeer m_peer;
    SimBox m_box;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace vl::test
