#pragma once

// One GET request to the update server over an access manager the caller owns, guarded
// against what an untrusted server may send:
// - every request asks for the body as it is (Accept-Encoding: identity), so what counts
//   against the bounds is what arrives; a reply compressed all the same is refused;
// - a body larger than `maxBytes` is aborted as soon as it is announced or has arrived
//   past the bound, whatever Content-Length says, and the reply's own buffer is kept
//   small, so a huge body never fills memory;
// - a body is used only whole: one that ends before its Content-Length, or that has
//   neither a length nor a chunked end, is refused ("the download was cut short");
// - plain http is refused unless `allowHttp`; redirects are followed here, not by the
//   network layer, at most five, only to http(s) and never from https to http;
// - a transfer that stays quiet for `idleTimeoutMs`, or has not ended within
//   `deadlineMs` (however it trickles), ends with an error; both are timed by the
//   scheduler in use when the request starts.
// Without a `consume` function the body is collected (fine for texts and firmware
// images); with one every piece is handed over as it arrives and nothing is kept.

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;

namespace vl {
class Timer;
}

namespace vl::update {

class GuardedGet : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Running,   // not finished yet (or not started)
        Finished,  // the whole body arrived
        Failed,    // network or server error, time-out, cut short, refused address or redirect
        TooLarge,  // the body passed maxBytes
        Aborted,   // abort() was called
    };

    // Takes each piece of the body; returning false (with a reason) ends the request.
    using Consumer = std::function<bool(const QByteArray &piece, QString *error)>;

    struct Options {
        qint64 maxBytes = 1 << 20;
        bool allowHttp = false;
        int idleTimeoutMs = 30000;
        int deadlineMs = 10 * 60 * 1000;
        Consumer consume;
    };

    // Nothing is sent before start(). `manager` must outlive the request.
    GuardedGet(QNetworkAccessManager *manager, const QUrl &url, const Options &options, QObject *parent = nullptr);
    ~GuardedGet() override;

    void start();
    // Ends a running request with Aborted (finished() is emitted); does nothing otherwise.
    void abort();

    Outcome outcome() const { return m_outcome; }
    bool isRunning() const { return m_outcome == Outcome::Running && m_reply; }
    // A text for the user when the outcome is neither Finished nor Running.
    QString errorText() const { return m_error; }
    QUrl url() const { return m_url; }
    // The collected body (empty when a consume function takes the pieces).
    QByteArray body() const { return m_body; }
    qint64 received() const { return m_received; }
    // The length the server announced, -1 when it announced none.
    qint64 announced() const { return m_total; }

    // The largest body a request may be given: far above any real installer.
    static constexpr qint64 kLargestBody = qint64(1) << 30;
    // The most redirects followed for one request.
    static constexpr int kMaxRedirects = 5;

signals:
    // Bytes received so far and the announced total (-1 when unknown). Emitted after each
    // piece and once more at the end.
    void progress(qint64 received, qint64 total);
    // Emitted exactly once, after outcome() has left Running.
    void finished();

private:
    void send(const QUrl &url);
    void dropReply();
    void onReadyRead();
    void onMetaData();
    bool followRedirect(const QUrl &target);
    void onReplyFinished();
    void end(Outcome outcome, const QString &error);
    bool schemeAllowed(const QUrl &url) const;
    QString name() const;

    QNetworkAccessManager *m_manager;
    QUrl m_url;
    QUrl m_at;  // where the request is now, after redirects
    Options m_options;
    QPointer<QNetworkReply> m_reply;
    Timer *m_idle = nullptr;
    Timer *m_deadline = nullptr;
    Outcome m_outcome = Outcome::Running;
    QString m_error;
    QByteArray m_body;
    qint64 m_received = 0;
    qint64 m_total = -1;
    int m_redirects = 0;
    bool m_chunked = false;  // the body comes in chunks and ends with the last one
    bool m_started = false;
};

}  // namespace vl::update
