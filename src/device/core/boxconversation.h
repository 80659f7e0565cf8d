#pragma once

// The conversation with the box over its serial port, as the editor window and
// varilume-cli both hold it:
//
//   Connect   open() the port at 115 200 baud and greet() the box; the rest of the
//             handshake follows its answers (the receive dispatcher asks for the settings
//             on "open the door" and "ok" and answers a challenge). settingsReported()
//             brings the box's four values, which settings() keeps.
//   Read      requestTable(); tableUploaded() brings the records, rowsOfUpload() turns a
//             whole table of them into the rows the editor shows.
//   Set       checkForSet() checks every complete rule and builds the image; sendImage()
//             writes it in 256-byte pieces; imageAccepted() is the box's "download success".
//             The editor runs Read and Set as transactions on its tables through
//             TableTransfer (tabletransfer.h).
//   Settings  sendSetting() and sendFactoryReset(); settingAcknowledged() is the box's
//             "setting end", after which the table has been asked for.
//   Upgrade   requestIdentity(), then modelReported() (acknowledged by the dispatcher) and
//             versionReported(); requestErase(), then eraseFinished(); sendFirmwarePiece().
//
// Nothing waits here: every answer arrives as a signal. The window shows its messages on
// them; the command-line tool waits for them. Both measure the box's time the same way,
// here: awaitAnswer() starts a watch that answerOverdue() ends once the line has been
// quiet for the answer timeout, nothing received and nothing sent. A slow box that keeps
// sending is never overdue. Nothing needs a widget.

#include "portaccess.h"
#include "protocol.h"
#include "settingsframes.h"
#include "tableimage.h"

#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QStringList>

namespace vl {

class RuleModel;
class Scheduler;
class Timer;

class BoxConversation : public QObject {
    Q_OBJECT
public:
    // Talks over `port`, which must outlive the conversation. Received bytes are read as
    // they arrive; a device that goes away closes the port.
    // The answer watch takes its timer from `scheduler` (scheduler() when not given).
    explicit BoxConversation(QSerialPort &port, QObject *parent = nullptr);
    BoxConversation(QSerialPort &port, Scheduler &scheduler, QObject *parent = nullptr);

    // How long the line may stay quiet while an answer is awaited.
    static constexpr int kDefaultAnswerTimeoutMs = 10000;
    void setAnswerTimeout(int ms) { m_answerTimeoutMs = ms; }
    int answerTimeout() const { return m_answerTimeoutMs; }
    // Starts, or starts again, waiting for an answer of the box: every byte received or
    // sent from now on restarts the answer timeout, and answerOverdue() says when it ran
    // out. stopAwaiting() (or closing the port) ends the wait.
    void awaitAnswer();
    void stopAwaiting();
    bool isAwaiting() const { return m_awaiting; }
    // Whether anything has been received since the wait began.
    bool heardSinceAwaiting() const { return m_heard; }

    QSerialPort &port() const { return m_port; }
    ReceiveDispatcher &dispatcher() { return m_dispatcher; }
    // The table upload collected so far.
    const QByteArray &uploadBuffer() const;

    // Opens `portName` for reading and writing, 8N1 without flow control, and forgets any
    // upload collected on an earlier line. A port that is open already, or no name at all,
    // cannot be opened; port().errorString() says more about other failures.
    PortOpenFailure open(const QString &portName, qint32 baudRate = kBoxBaudRate);
    // Discards what is queued either way and closes the port.
    void close();
    // Closes the port without discarding what was written and may not have reached the
    // box yet (the end of a firmware transfer).
    void closeKeepingOutput();
    bool isOpen() const { return m_port.isOpen(); }
    // Whether the device behind the open port has gone away (see deviceHasGone()).
    bool deviceHasGone() const;

    // "hello", the start of the handshake.
    bool greet();
    // "setting request": the box answers with its settings.
    bool requestSettings();
    // "upload request": the box answers with its table.
    bool requestTable();
    // The table image, in pieces of 256 bytes, each flushed.
    bool sendImage(const QByteArray &image);
    // A settings command carrying `value` in the setting's own units (see settingsCommand()).
    bool sendSetting(DeviceSetting setting, quint16 value);
    bool sendFactoryReset();

    // Upgrade mode, the box's bootloader: the identify request (the box answers with its
    // model and, once the model is acknowledged, its version), the erase request ("ERASE
    // END" when done) and one piece of firmware, written and flushed.
    bool requestIdentity();
    bool requestErase();
    bool sendFirmwarePiece(const QByteArray &piece);
    // Bytes written that have not left the port yet (see bytesNotSent()).
    qint64 bytesNotSent() const;

    // The settings the box last reported; all zero before the first report.
    DeviceSettings settings() const { return m_settings; }

public slots:
    // Hands everything received so far to the dispatcher. A handler that runs an event
    // loop of its own (a message box) does not read again inside it; what arrives
    // meanwhile is read once it returns.
    void receive();

signals:
    void doorAnswered(bool open);
    void boxAccepted();
    void settingsReported(const vl::DeviceSettings &settings);
    // Bytes arrived from the box (before they are looked at).
    void bytesReceived(qint64 count);
    // A finished upload; `damage` says what shows it was damaged on its way (checksum,
    // header), empty when nothing does. A damaged upload is handed on all the same.
    void tableUploaded(const QByteArrayList &records, const QString &damage);
    void imageAccepted();
    void settingAcknowledged();
    void modelReported(const QString &model);
    void versionReported(const QString &version);
    void eraseFinished();
    // The device went away; the port has been closed.
    void lineLost();
    // A write failed; port().errorString() says why.
    void writeFailed();
    // The box said nothing for the answer timeout while an answer was awaited; the wait
    // has ended.
    void answerOverdue();

private:
    void handlePortError(QSerialPort::SerialPortError error);
    bool write(const QByteArray &bytes);
    bool written(bool ok);
    void lineMoved();

    QSerialPort &m_port;
    ReceiveDispatcher m_dispatcher;
    DeviceSettings m_settings;
    bool m_receiving = false;
    Timer *m_answerTimer = nullptr;
    int m_answerTimeoutMs = kDefaultAnswerTimeoutMs;
    bool m_awaiting = false;
    bool m_heard = false;
};

// What Set finds in a table before anything is sent.
struct SetCheck {
    enum Status {
        Ready,        // `image` is what goes to the box
        TooFewRows,   // the box holds 3072 rules and needs every row
        InvalidRule,  // `problem` names the first cell the box could not hold
    };
    Status status = TooFewRows;
    int rows = 0;
    RuleProblem problem;
    // Rows after the 3072nd that hold anything: they never reach the box. The first of
    // them (a row index), or -1.
    int rowsLeftOut = 0;
    int firstRowLeftOut = -1;
    QByteArray image;

    bool ready() const { return status == Ready; }
};

// Set's checks of `rules`, and the image when they pass. With `checkRules` false only the
// row count is checked (the image a workbook save builds first).
SetCheck checkForSet(const RuleModel &rules, bool checkRules = true);
// "Row 6, column "DMX Channels": "1025" is not a valid value." for the problem found.
QString invalidRuleText(const RuleProblem &problem);
// What Set says of the rules after the 3072nd row (empty when there are none): how many
// there are and the row of the first.
QString rulesLeftOutText(const SetCheck &check);

// The rows the editor shows for an upload under middle-C naming `cnum`: for each of the
// 3072 records its ten cell texts, or the "SN" text alone for a record without a rule
// (insertUploadedRow() in the table's operations puts them in). Empty when the upload is
// not exactly 3072 records of 8 bytes.
QList<QStringList> rowsOfUpload(const QByteArrayList &records, int cnum);

}  // namespace vl
