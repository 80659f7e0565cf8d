#pragma once

// The simulated KVR-9000: the box's side of the serial protocol as a plain class.
//
// SimBox takes the bytes the editor writes, in whatever pieces they arrive, and returns
// the pieces the box writes back, each with the pause to keep before it. It keeps the
// box's table of 3072 rule records and its four operating values between commands.
// The program around it (main.cpp) only moves bytes between a pseudo-terminal and this
// class and keeps time; everything the box decides is here, so it is tested directly.
//
// Normal mode, what the box understands and answers:
//   "hello"                         -> "open the door" (or "close the door"), then the
//                                      challenge "cipher" ':' 16 bytes when enabled
//   "setting request"               -> the 27-byte settings reply
//   "upload request"                -> the whole 24 844-byte table image in pieces
//   "download request" ... image    -> "download success" once the image is checked and
//                                      stored; a bad image gets no answer at all
//   "settingdata" 6 bytes "setting end" -> the setting applied, "setting end"; a bad
//                                      command gets no answer at all
//   "give you" 17 bytes "nxxxxx"    -> checked against the challenge; "ok" when right
// Upgrade mode (the bootloader), commands AA CC 02 00 nn 0D 0A:
//   01 identify      -> the model reply "KVR-9000\r\n"
//   03 model ack     -> the version reply AA CC 06 "V1.0.3\r\n"
//   02 erase         -> "ERASE END" after the erase time; the following bytes are firmware
//                       until the line has been quiet for the idle time, then compared
//                       with the expected image when there is one
//
// Bytes that start no known message are skipped. A message that stays incomplete for
// idleTimeoutMs() is dropped when the program calls idle().

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace vl {

constexpr int kBoxRules = 3072;
constexpr int kBoxRecordSize = 8;
constexpr int kBoxRecordBytes = kBoxRules * kBoxRecordSize;  // 24 576
constexpr int kBoxImageHeader = 256;
constexpr int kBoxImageSize = kBoxImageHeader + kBoxRecordBytes + 12;  // 24 844
constexpr int kBoxSettingsReplySize = 27;
// The most firmware the bootloader keeps; what arrives beyond it is dropped.
constexpr int kBoxMaxFirmware = 8 * 1024 * 1024;

// The box's four operating values, in the units the settings commands use.
struct BoxSettings {
    int breakTime = 200;      // DMX break, microseconds (88-1000)
    int markAfterBreak = 50;  // DMX mark-after-break, microseconds (8-1000)
    int coefficientCode = 0;  // 0-5 for 1, 2, 2.01, 3, 4, 5
    int sleepCode = 3;        // tens of seconds (1-6)

    bool operator==(const BoxSettings &o) const
    {
        return breakTime == o.breakTime && markAfterBreak == o.markAfterBreak && coefficientCode == o.coefficientCode
               && sleepCode == o.sleepCode;
    }
    // Empty when the values are within what the box can run, else the first complaint.
    QString problem() const;
};

// The rule records' checksum: the sum of all bytes modulo 65 536.
quint16 boxRecordChecksum(const QByteArray &records);
// A whole table image around 24 576 record bytes.
QByteArray buildBoxImage(const QByteArray &records);
// Checks an image's length, markers and checksum; on success gives its records.
bool parseBoxImage(const QByteArray &image, QByteArray *records, QString *error = nullptr);
// Rules in use: records whose "holds a rule" flag (bit 12 of bytes 2-3) is set.
int boxRuleCount(const QByteArray &records);
// A small example table for a first look: notes, controllers and after-touch on a few
// DMX channels, with fades and a toggle.
QByteArray demoBoxRecords();

// One rule as the box stores it. `status` is 9 (Note), 10 (AT) or 11 (CC); `channel` 1-16
// unless `allChannels`; `dmx` 1-1024; `fix` 0-255 and the fades 0-50, 0 meaning off.
struct BoxRule {
    int status = 9;
    int channel = 1;
    bool allChannels = false;
    int number = 0;
    int dmx = 1;
    int fix = 0;
    int fadeIn = 0;
    int fadeOut = 0;
    bool toggle = false;
    bool enable = false;
};
QByteArray boxRecord(const BoxRule &rule);

// The records of a table written as the editor shows it: one list of cell texts per row,
// "SN" first, then DMX, Sta, Ctl, CH, Fix, Fade In, Fade Out, Toggle and Enable. A row
// with any of DMX to Toggle empty holds no rule; rows after the 3072nd are not the box's.
// Fails, naming the first cell by row and column, when a rule holds a text the box
// cannot take, and when there are fewer than 3072 rows (the box needs every one).
bool boxRecordsFromTexts(const QList<QStringList> &rows, QByteArray *records, QString *error = nullptr);

// One write of the box: `delayMs` is the pause after the previous write before this one.
struct BoxPiece {
    QByteArray bytes;
    int delayMs = 0;
    bool vanishAfter = false;  // the box disappears once this piece is out
    bool operator==(const BoxPiece &o) const
    {
        return bytes == o.bytes && delayMs == o.delayMs && vanishAfter == o.vanishAfter;
    }
};

struct BoxOptions {
    bool upgradeMode = false;
    bool closeDoor = false;       // answer "hello" with "close the door"
    bool cipher = false;          // send a challenge after the greeting
    bool cipherRequired = false;  // serve nothing but the greeting until it is answered
    int chunkSize = 64;           // the upload goes out in pieces of at most this size
    QList<int> splitAt;           // extra cuts of the upload, as offsets into the image
    int piecePauseMs = 1;         // pause between the pieces of one upload
    int messageGapMs = 20;        // pause before every separate message
    bool garbage = false;         // junk bytes before every message
    QStringList silent;           // requests carried out but never answered
    qint64 vanishAfter = -1;      // disappear after this many bytes of an upload
    bool badChecksum = false;     // uploads carry a checksum that does not match the records
    int eraseMs = 300;            // how long the flash erase takes
    quint32 seed = 1;             // challenges and junk bytes
    QByteArray model = "KVR-9000";
    QByteArray version = "V1.0.3";
};

// What can be named with BoxOptions::silent.
QStringList boxRequestNames();

class SimBox {
public:
    explicit SimBox(const BoxOptions &options = BoxOptions());

    // Feeds bytes from the editor; returns what the box writes in answer.
    QList<BoxPiece> receive(const QByteArray &bytes);
    // How long the line may stay quiet while a message is incomplete or firmware is
    // arriving; -1 when nothing waits.
    int idleTimeoutMs() const;
    // The line has been quiet for idleTimeoutMs(): drops an incomplete message, ends a
    // firmware transfer.
    void idle();
    // The editor closed the port: forget half-received messages and the challenge.
    void lineClosed();

    BoxSettings settings() const { return m_settings; }
    void setSettings(const BoxSettings &settings) { m_settings = settings; }
    QByteArray records() const { return m_records; }
    void setRecords(const QByteArray &records);
    QByteArray image() const { return buildBoxImage(m_records); }
    // Goes up whenever the stored table changes (a download, a factory reset).
    int tableRevision() const { return m_tableRevision; }
    QByteArray firmware() const { return m_firmware; }
    // The sizes of the pieces the firmware arrived in, one per receive() that carried some.
    QList<int> firmwarePieces() const { return m_firmwarePieces; }
    // Goes up whenever a firmware transfer has ended (the line went quiet or was closed).
    int firmwareRevision() const { return m_firmwareRevision; }
    // The image every firmware transfer is compared with when it ends (empty: none);
    // the outcome is logged as important.
    void setExpectedFirmware(const QByteArray &image) { m_expectedFirmware = image; }
    enum class FirmwareCheck { NotChecked, Matches, Differs };
    FirmwareCheck lastFirmwareCheck() const { return m_firmwareCheck; }
    // The challenge waiting for its answer, empty when none is.
    QByteArray challenge() const { return m_challenge; }
    bool authenticated() const { return m_authenticated; }

    // Every event, one short line each; `important` ones are worth showing without -v.
    void setLogger(std::function<void(const QString &line, bool important)> logger) { m_log = std::move(logger); }

private:
    enum class Take { Done, NeedMore, NotHere };

    Take takeNormal(QList<BoxPiece> *out);
    Take takeUpgrade(QList<BoxPiece> *out);
    void message(QList<BoxPiece> *out, const QByteArray &bytes, const QString &what, int delayMs = -1,
                 bool logIt = true);
    void finishFirmware();
    void upload(QList<BoxPiece> *out);
    void download(const QByteArray &image, QList<BoxPiece> *out);
    void settingCommand(const QByteArray &frame, QList<BoxPiece> *out);
    bool cipherAnswer(const QByteArray &frame);
    bool refused(const QString &request);
    bool silent(const QString &request) const { return m_options.silent.contains(request); }
    quint32 nextRandom();
    void log(const QString &line, bool important = false) const;

    BoxOptions m_options;
    BoxSettings m_settings;
    QByteArray m_records;
    QByteArray m_input;
    int m_tableRevision = 0;
    QByteArray m_challenge;
    bool m_authenticated = false;
    bool m_vanished = false;
    bool m_receivingFirmware = false;
    QByteArray m_firmware;
    QList<int> m_firmwarePieces;
    int m_firmwareRevision = 0;
    QByteArray m_expectedFirmware;
    FirmwareCheck m_firmwareCheck = FirmwareCheck::NotChecked;
    quint32 m_random;
    std::function<void(const QString &, bool)> m_log;
};

}  // namespace vl
