#include "upgradesession.h"

#include "firmwarecheck.h"
#include "firmwaretransfer.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLoggingCategory>

namespace vl::firmware {

namespace {

Q_LOGGING_CATEGORY(lcUpgrade, "varilume.firmware.upgrade")

using S = UpgradeState;
using E = UpgradeEvent;
using A = PortAction;

UpgradeStep to(S next, A action = A::None) { return {next, action, true, DownloadUse::NotADownload}; }
UpgradeStep ignore(S same) { return {same, A::None, false, DownloadUse::NotADownload}; }

// A new image chosen by the user (a file, or a download accepted).
UpgradeStep choice(S state)
{
    switch (state) {
    case S::Idle:
    case S::ImageChosen:
    case S::Failed: return to(S::ImageChosen);
    case S::Identified:
    case S::Erased:  // erased for the previous image, nothing sent yet: the box takes a new erase
    case S::Done: return to(S::EraseRequested, A::RequestErase);
    case S::EraseRequested:
    case S::StaleErase:
    case S::StaleEraseImageChosen: return to(S::StaleEraseImageChosen);  // one erase outstanding at a time
    case S::Sending: return ignore(state);
    }
    return ignore(state);
}

}  // namespace

UpgradeStep upgradeStep(UpgradeState state, UpgradeEvent event, bool downloadedImage)
{
    switch (event) {
    case E::BoxIdentified:
        switch (state) {
        case S::Idle:
        case S::Identified:
        case S::Done: return to(S::Identified);
        case S::ImageChosen:
        case S::Failed: return to(S::EraseRequested, A::RequestErase);
        default: return ignore(state);
        }
    case E::FileChosen:
    case E::DownloadAccepted: return choice(state);
    case E::FileRefused:
        switch (state) {
        case S::Idle:
        case S::ImageChosen:
        case S::Failed: return to(S::Idle);
        case S::Identified:
        case S::Erased: return to(S::Identified);
        case S::Done: return to(S::Done);
        case S::EraseRequested:
        case S::StaleErase:
        case S::StaleEraseImageChosen: return to(S::StaleErase);
        case S::Sending: return ignore(state);
        }
        break;
    case E::DownloadFinished: {
        UpgradeStep step;
        switch (state) {
        case S::Idle:
        case S::Identified:
        case S::Done:
        case S::StaleErase:
            step = choice(state);
            step.download = DownloadUse::Take;
            return step;
        case S::Sending: return {state, A::None, true, DownloadUse::Hold};
        default: return {state, A::None, true, DownloadUse::Ask};
        }
    }
    case E::EraseEnd:
        switch (state) {
        case S::EraseRequested: return downloadedImage ? to(S::Sending, A::StartTransfer) : to(S::Erased);
        case S::StaleErase: return to(S::Identified);  // answers the erase of an image no longer chosen
        case S::StaleEraseImageChosen: return to(S::EraseRequested, A::RequestErase);
        default: return ignore(state);  // nobody waits for this one
        }
    case E::UpgradePressed: return state == S::Erased ? to(S::Sending, A::StartTransfer) : ignore(state);
    case E::TransferDone: return state == S::Sending ? to(S::Done) : ignore(state);
    case E::TransferFailed: return state == S::Sending ? to(S::Failed) : ignore(state);
    case E::PortLost:
        switch (state) {
        case S::Idle:
        case S::Identified:
        case S::Done:
        case S::StaleErase: return to(S::Idle);
        case S::ImageChosen:
        case S::EraseRequested:
        case S::Erased:
        case S::StaleEraseImageChosen: return to(S::ImageChosen);  // the image waits for the box
        case S::Sending: return to(S::Failed, A::StopTransfer);
        case S::Failed: return to(S::Failed);
        }
        break;
    case E::DialogClosed:
        switch (state) {
        case S::Idle:
        case S::ImageChosen:
        case S::Failed: return to(S::Idle);
        case S::Identified:
        case S::Erased: return to(S::Identified);
        case S::Done: return to(S::Done);
        case S::EraseRequested:
        case S::StaleErase:
        case S::StaleEraseImageChosen: return to(S::StaleErase);
        case S::Sending: return to(S::Idle, A::StopTransfer);
        }
        break;
    }
    return ignore(state);
}

QString stateName(UpgradeState state)
{
    switch (state) {
    case S::Idle: return QStringLiteral("idle");
    case S::Identified: return QStringLiteral("identified");
    case S::ImageChosen: return QStringLiteral("image chosen");
    case S::EraseRequested: return QStringLiteral("erase requested");
    case S::Erased: return QStringLiteral("erased");
    case S::Sending: return QStringLiteral("sending");
    case S::Done: return QStringLiteral("done");
    case S::Failed: return QStringLiteral("failed");
    case S::StaleErase: return QStringLiteral("erase of a withdrawn image outstanding");
    case S::StaleEraseImageChosen: return QStringLiteral("erase of a replaced image outstanding");
    }
    return {};
}

QString eventName(UpgradeEvent event)
{
    switch (event) {
    case E::BoxIdentified: return QStringLiteral("version reply");
    case E::FileChosen: return QStringLiteral("file chosen");
    case E::FileRefused: return QStringLiteral("file refused");
    case E::DownloadFinished: return QStringLiteral("download finished");
    case E::DownloadAccepted: return QStringLiteral("download accepted");
    case E::EraseEnd: return QStringLiteral("ERASE END");
    case E::UpgradePressed: return QStringLiteral("Upgrade");
    case E::TransferDone: return QStringLiteral("transfer done");
    case E::TransferFailed: return QStringLiteral("transfer failed");
    case E::PortLost: return QStringLiteral("port closed");
    case E::DialogClosed: return QStringLiteral("dialog closed");
    }
    return {};
}

QString FirmwareImage::name() const
{
    return path.isEmpty() ? QStringLiteral("downloaded V%1").arg(version) : QFileInfo(path).fileName();
}

QString FirmwareImage::description() const
{
    const QByteArray sha = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("%1, %2 bytes, SHA-256 %3…")
        .arg(name())
        .arg(bytes.size())
        .arg(QString::fromLatin1(sha.left(12)));
}

UpgradePort::~UpgradePort() = default;

UpgradeSession::UpgradeSession(UpgradePort &port, QObject *parent) : QObject(parent), m_port(port) {}

UpgradeStep UpgradeSession::apply(UpgradeEvent event)
{
    const UpgradeState before = m_state;
    const UpgradeStep step = upgradeStep(before, event, m_image.downloaded());
    if (!step.expected) {
        const QString line = QStringLiteral("Ignored: %1 while %2.").arg(eventName(event), stateName(before));
        qCInfo(lcUpgrade).noquote() << line;
        emit ignored(line);
        return step;
    }
    m_state = step.next;
    if (m_state != before)
        emit stateChanged(m_state);
    return step;
}

void UpgradeSession::setImage(const FirmwareImage &image)
{
    m_image = image;
    emit imageChanged();
}

void UpgradeSession::boxIdentified(const QString &model, const QString &version)
{
    m_model = model;
    m_version = version;
    // A file chosen before the box said who it is is checked against what it runs now.
    if (m_state == UpgradeState::ImageChosen || m_state == UpgradeState::Failed) {
        if (!m_image.downloaded() && isSameVersionFile(m_image.path, m_model, m_version)) {
            refuseFile(QStringLiteral("The version number is the same! No upgrade required"));
            apply(UpgradeEvent::BoxIdentified);
            return;
        }
    }
    const UpgradeStep step = apply(UpgradeEvent::BoxIdentified);
    if (step.action == PortAction::RequestErase)
        m_port.requestErase();
}

void UpgradeSession::chooseFile(const QString &path, const QByteArray &bytes)
{
    if (m_state == UpgradeState::Sending) {
        apply(UpgradeEvent::FileChosen);  // ignored: the transfer runs on
        return;
    }
    const QString problem = imageProblem(bytes.size(), QFileInfo(path).fileName());
    if (!problem.isEmpty()) {
        refuseFile(problem);
        return;
    }
    if (isSameVersionFile(path, m_model, m_version)) {
        refuseFile(QStringLiteral("The version number is the same! No upgrade required"));
        return;
    }
    const UpgradeStep step = apply(UpgradeEvent::FileChosen);
    setImage({bytes, path, {}});
    if (step.action == PortAction::RequestErase)
        m_port.requestErase();
}

void UpgradeSession::refuseFile(const QString &why)
{
    const UpgradeStep step = apply(UpgradeEvent::FileRefused);
    if (step.expected && !m_image.isEmpty())
        setImage({});
    if (!why.isEmpty())
        emit refused(why);
}

void UpgradeSession::downloadFinished(const QByteArray &bytes, const QString &version)
{
    const FirmwareImage downloaded{bytes, {}, version};
    const UpgradeStep step = apply(UpgradeEvent::DownloadFinished);
    switch (step.download) {
    case DownloadUse::Take:
        setImage(downloaded);
        if (step.action == PortAction::RequestErase)
            m_port.requestErase();
        return;
    case DownloadUse::Ask:
        m_offer = downloaded;
        m_offerHeld = false;
        askOffer();
        return;
    case DownloadUse::Hold:
        m_offer = downloaded;
        m_offerHeld = true;
        return;
    case DownloadUse::NotADownload: return;
    }
}

void UpgradeSession::askOffer()
{
    emit offerReady(QStringLiteral("The firmware V%1 has been downloaded from the update server; the image chosen "
                                   "now is %2.\n\nUse the downloaded V%1?")
                        .arg(m_offer.version, m_image.isEmpty() ? QStringLiteral("none") : m_image.name()));
}

void UpgradeSession::answerOffer(bool use)
{
    if (m_offer.isEmpty() || m_offerHeld) {
        const QString line = QStringLiteral("Ignored: an answer while no download waits for one.");
        qCInfo(lcUpgrade).noquote() << line;
        emit ignored(line);
        return;
    }
    const FirmwareImage offered = m_offer;
    m_offer = {};
    if (!use)
        return;
    const UpgradeStep step = apply(UpgradeEvent::DownloadAccepted);
    if (!step.expected)
        return;
    setImage(offered);
    if (step.action == PortAction::RequestErase)
        m_port.requestErase();
}

void UpgradeSession::eraseEnd()
{
    const UpgradeStep step = apply(UpgradeEvent::EraseEnd);
    if (step.action == PortAction::RequestErase)
        m_port.requestErase();
    else if (step.action == PortAction::StartTransfer)
        m_port.startTransfer(m_image.bytes);
}

void UpgradeSession::upgradePressed()
{
    const UpgradeStep step = apply(UpgradeEvent::UpgradePressed);
    if (step.action == PortAction::StartTransfer)
        m_port.startTransfer(m_image.bytes);
}

void UpgradeSession::transferDone()
{
    const UpgradeStep step = apply(UpgradeEvent::TransferDone);
    if (!step.expected)
        return;
    setImage({});  // sent
    if (m_offerHeld) {
        m_offerHeld = false;
        askOffer();
    }
}

void UpgradeSession::transferFailed()
{
    if (!apply(UpgradeEvent::TransferFailed).expected)
        return;
    if (m_offerHeld) {
        m_offerHeld = false;
        askOffer();
    }
}

void UpgradeSession::portLost()
{
    const UpgradeStep step = apply(UpgradeEvent::PortLost);
    if (step.action == PortAction::StopTransfer)
        m_port.stopTransfer();
}

void UpgradeSession::dialogClosed()
{
    const UpgradeStep step = apply(UpgradeEvent::DialogClosed);
    m_offer = {};
    m_offerHeld = false;
    if (!m_image.isEmpty())
        setImage({});
    if (step.action == PortAction::StopTransfer)
        m_port.stopTransfer();
}

}  // namespace vl::firmware
