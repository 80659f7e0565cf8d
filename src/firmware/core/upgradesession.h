#pragma once

// What the upgrade dialog may do to the box, decided by one explicit state machine. Every
// event (the box identified, a file chosen or refused, a download finished, "ERASE END",
// Upgrade pressed, the transfer's end, the port lost, the dialog closed) is handled in
// every state by upgradeStep()'s table; an event a state does not expect is logged and
// ignored and never acts on the port.
//
// What the table keeps safe:
// - an erase is requested only for the image chosen at that moment, and at most one erase
//   request is outstanding: a choice made while one is, waits for its "ERASE END";
// - an "ERASE END" counts only for the request it answers: after a new choice or a
//   refusal it arms nothing, and one that nobody asked for is ignored;
// - any new choice or refusal clears the image and disarms Upgrade;
// - a finished download never writes to the port by itself while an image is chosen or a
//   transfer runs: it is offered ("Use the downloaded V1.2.0?"), after the transfer when
//   one runs, and the user's last explicit choice wins;
// - the image that will be sent is always named (file name or "downloaded V1.2.0", size
//   and SHA-256 prefix).
//
// Widget-free: the dialog feeds the events in and carries the port actions out through
// UpgradePort.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace vl::firmware {

enum class UpgradeState {
    Idle,                   // no box identified, no image
    Identified,             // the box said who it is; no image
    ImageChosen,            // an image, no box to erase it yet (not connected, or the link was lost)
    EraseRequested,         // an erase is outstanding for the chosen image
    Erased,                 // the box erased for the chosen image: Upgrade sends it
    Sending,                // the transfer runs
    Done,                   // every byte went out; the box is still there until the port closes
    Failed,                 // the transfer ended early; the image is kept for another try
    StaleErase,             // an erase is outstanding for an image no longer chosen; no image now
    StaleEraseImageChosen,  // the same, and a newer image waits for its own erase
};

enum class UpgradeEvent {
    BoxIdentified,     // the box's version reply
    FileChosen,        // the user chose a file that may be sent
    FileRefused,       // the user chose a file that may not (unreadable, empty, too large, same version)
    DownloadFinished,  // the offered firmware arrived whole and checked
    DownloadAccepted,  // "Use the downloaded …?" answered yes
    EraseEnd,          // "ERASE END"
    UpgradePressed,
    TransferDone,
    TransferFailed,
    PortLost,      // the link went away or was closed
    DialogClosed,  // the dialog was closed (confirmed by the user during a transfer)
};

// What the port is asked to do.
enum class PortAction {
    None,
    RequestErase,   // AA CC 02 00 02 0D 0A
    StartTransfer,  // send the chosen image from its first piece
    StopTransfer,   // stop sending and close the port, so the box ends its firmware
};

// What becomes of a finished download.
enum class DownloadUse {
    NotADownload,
    Take,  // nothing is chosen: it becomes the image
    Ask,   // an image is chosen: the user decides
    Hold,  // a transfer runs: the user decides once it has ended
};

struct UpgradeStep {
    UpgradeState next;
    PortAction action = PortAction::None;
    bool expected = true;  // false: the event is logged and ignored (next is the same state)
    DownloadUse download = DownloadUse::NotADownload;
};

// The table. `downloadedImage`: the chosen image came from the update server, whose
// transfer starts by itself once the box has erased for it.
UpgradeStep upgradeStep(UpgradeState state, UpgradeEvent event, bool downloadedImage);

QString stateName(UpgradeState state);
QString eventName(UpgradeEvent event);

struct FirmwareImage {
    QByteArray bytes;
    QString path;     // the file chosen; empty for a download
    QString version;  // the downloaded release's version ("1.2.0"); empty for a file

    bool isEmpty() const { return bytes.isEmpty(); }
    bool downloaded() const { return path.isEmpty() && !version.isEmpty(); }
    // "fw.bin" or "downloaded V1.2.0".
    QString name() const;
    // "fw.bin, 100000 bytes, SHA-256 3f2a09c41b7e…"
    QString description() const;
};

// Where the machine's port actions go.
class UpgradePort {
public:
    virtual ~UpgradePort();
    virtual void requestErase() = 0;
    virtual void startTransfer(const QByteArray &image) = 0;
    virtual void stopTransfer() = 0;
};

class UpgradeSession : public QObject {
    Q_OBJECT
public:
    // `port` must outlive the session.
    explicit UpgradeSession(UpgradePort &port, QObject *parent = nullptr);

    UpgradeState state() const { return m_state; }
    // The image that will be sent (empty when none is chosen).
    const FirmwareImage &image() const { return m_image; }
    // A download waiting for the user's answer (empty when none waits).
    const FirmwareImage &offer() const { return m_offer; }
    QString boxModel() const { return m_model; }
    QString boxVersion() const { return m_version; }

    // The events. A chosen file is checked here: too large, empty, or named after the
    // firmware the box runs ("KVR-9000_V1.0.3.bin"), it is refused.
    void boxIdentified(const QString &model, const QString &version);
    void chooseFile(const QString &path, const QByteArray &bytes);
    void refuseFile(const QString &why);
    void downloadFinished(const QByteArray &bytes, const QString &version);
    // The answer to offerReady().
    void answerOffer(bool use);
    void eraseEnd();
    void upgradePressed();
    void transferDone();
    void transferFailed();
    void portLost();
    void dialogClosed();

signals:
    void stateChanged(vl::firmware::UpgradeState state);
    // The image to send changed (chosen, replaced, cleared).
    void imageChanged();
    // A choice was refused; `why` is for the user.
    void refused(const QString &why);
    // A download is there while an image is chosen: ask "Use the downloaded …?" and
    // call answerOffer().
    void offerReady(const QString &question);
    // An event the state did not expect, ignored.
    void ignored(const QString &line);

private:
    UpgradeStep apply(UpgradeEvent event);
    void setImage(const FirmwareImage &image);
    void askOffer();

    UpgradePort &m_port;
    UpgradeState m_state = UpgradeState::Idle;
    FirmwareImage m_image;
    FirmwareImage m_offer;
    bool m_offerHeld = false;  // asked once the running transfer has ended
    QString m_model;
    QString m_version;
};

}  // namespace vl::firmware
