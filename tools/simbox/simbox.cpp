#include "simbox.h"

#include <QSet>
#include <algorithm>

namespace vl {

namespace {

const QByteArray kHello = "hello";
const QByteArray kSettingRequest = "setting request";
const QByteArray kUploadRequest = "upload request";
const QByteArray kDownloadRequest = "download request";
const QByteArray kSettingData = "settingdata";
const QByteArray kSettingEnd = "setting end";
const QByteArray kGiveYou = "give you";
const QByteArray kAnswerTail = "nxxxxx";
const QByteArray kEndOfData = QByteArray("end of data", 11) + '\0';
const QByteArray kCommandHead = QByteArray::fromHex("aacc0200");
const QByteArray kCommandTail = "\r\n";

constexpr int kSettingFrameSize = 11 + 6 + 11;
constexpr int kChallengeSize = 16;
constexpr int kAnswerFrameSize = 8 + kChallengeSize + 1 + 6;
constexpr int kCommandSize = 7;
constexpr int kMessageIdleMs = 2000;
constexpr int kFirmwareIdleMs = 1000;

// The messages the editor starts with a keyword, and their whole length.
struct Request {
    QByteArray keyword;
    int size;
};
const Request kRequests[] = {
    {kHello, 5},
    {kSettingRequest, 15},
    {kUploadRequest, 14},
    {kDownloadRequest, kBoxImageSize},
    {kSettingData, kSettingFrameSize},
    {kGiveYou, kAnswerFrameSize},
};

quint16 be16(const QByteArray &b, int at) { return quint16((quint8(b[at]) << 8) | quint8(b[at + 1])); }

void putBe16(QByteArray *b, int value)
{
    b->append(char((value >> 8) & 0xFF));
    b->append(char(value & 0xFF));
}

// Printable bytes as they are, the rest in hex: short enough for one log line.
QString shown(const QByteArray &bytes)
{
    constexpr int kMax = 48;
    QString s;
    const int n = std::min<int>(bytes.size(), kMax);
    for (int i = 0; i < n; ++i) {
        const uchar c = uchar(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\')
            s += QChar(c);
        else
            s += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    if (bytes.size() > kMax)
        s += QStringLiteral("... (%1 bytes)").arg(bytes.size());
    return s;
}

}  // namespace

QString BoxSettings::problem() const
{
    if (breakTime < 88 || breakTime > 1000)
        return QStringLiteral("break time %1 us is outside 88-1000").arg(breakTime);
    if (markAfterBreak < 8 || markAfterBreak > 1000)
        return QStringLiteral("mark-after-break %1 us is outside 8-1000").arg(markAfterBreak);
    if (coefficientCode < 0 || coefficientCode > 5)
        return QStringLiteral("coefficient code %1 is outside 0-5").arg(coefficientCode);
    if (sleepCode < 1 || sleepCode > 6)
        return QStringLiteral("sleep code %1 is outside 1-6").arg(sleepCode);
    return QString();
}

quint16 boxRecordChecksum(const QByteArray &records)
{
    quint32 sum = 0;
    for (const char c : records)
        sum += quint8(c);
    return quint16(sum & 0xFFFF);
}

QByteArray buildBoxImage(const QByteArray &records)
{
    QByteArray image(kBoxImageHeader, '\0');
    image.replace(0, kDownloadRequest.size(), kDownloadRequest);
    const quint16 sum = boxRecordChecksum(records);
    image[17] = char(sum & 0xFF);
    image[18] = char(sum >> 8);
    QByteArray body = records.left(kBoxRecordBytes);
    body.append(QByteArray(kBoxRecordBytes - body.size(), '\0'));
    image += body;
    image += kEndOfData;
    return image;
}

bool parseBoxImage(const QByteArray &image, QByteArray *records, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (image.size() != kBoxImageSize)
        return fail(QStringLiteral("%1 bytes instead of %2").arg(image.size()).arg(kBoxImageSize));
    if (!image.startsWith(kDownloadRequest) || image[16] != '\0')
        return fail(QStringLiteral("no \"download request\" header"));
    if (!image.endsWith(kEndOfData))
        return fail(QStringLiteral("no \"end of data\" trailer at %1").arg(kBoxImageSize - kEndOfData.size()));
    const QByteArray body = image.mid(kBoxImageHeader, kBoxRecordBytes);
    const quint16 stated = quint16(quint8(image[17]) | (quint8(image[18]) << 8));
    const quint16 actual = boxRecordChecksum(body);
    if (stated != actual)
        return fail(QStringLiteral("checksum %1 but the records add up to %2").arg(stated).arg(actual));
    if (records)
        *records = body;
    return true;
}

int boxRuleCount(const QByteArray &records)
{
    int n = 0;
    for (int at = 0; at + kBoxRecordSize <= records.size(); at += kBoxRecordSize)
        n += (quint8(records[at + 3]) & 0x10) ? 1 : 0;
    return n;
}

QByteArray boxRecord(const BoxRule &rule)
{
    QByteArray r(kBoxRecordSize, '\0');
    const int flags = ((rule.dmx - 1) & 0x3FF) | (rule.enable ? 1 << 10 : 0) | (rule.allChannels ? 1 << 11 : 0)
                      | (1 << 12) | (rule.toggle ? 1 << 13 : 0);
    r[0] = char((rule.status << 4) | (rule.allChannels ? 0 : (rule.channel - 1) & 0x0F));
    r[1] = char(rule.number);
    r[2] = char(flags & 0xFF);
    r[3] = char(flags >> 8);
    r[4] = char(rule.fix);
    r[5] = char(rule.fadeOut);
    r[6] = char(rule.fadeIn);
    return r;
}

QByteArray demoBoxRecords()
{
    QByteArray records;
    auto add = [&records](int status, int channel, bool all, int number, int dmx, int fix, int fadeIn, int fadeOut,
                          bool toggle) {
        records += boxRecord({status, channel, all, number, dmx, fix, fadeIn, fadeOut, toggle, true});
    };
    for (int i = 0; i < 12; ++i)  // one octave of notes from middle C, each on its own channel
        add(9, 0, true, 60 + i, 1 + i, 0, 0, 0, false);
    for (int i = 0; i < 8; ++i)  // controllers 1-8 on MIDI channel 1 as faders
        add(11, 1, false, 1 + i, 13 + i, 0, 0, 0, false);
    add(10, 1, false, 60, 21, 0, 5, 20, false);    // after-touch with slow fades
    add(9, 10, false, 36, 22, 255, 0, 10, true);   // a drum pad that toggles full light
    add(9, 10, false, 38, 513, 128, 0, 0, false);  // the second DMX port
    records.append(QByteArray(kBoxRecordBytes - records.size(), '\0'));
    return records;
}

namespace {

// A whole decimal number without sign or spaces, within [low, high].
bool readNumber(const QString &text, int low, int high, int *value)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    *value = text.toInt();
    return *value >= low && *value <= high;
}

bool readOffOrNumber(const QString &text, int high, int *value)
{
    if (text == QLatin1String("OFF")) {
        *value = 0;
        return true;
    }
    return readNumber(text, 1, high, value);
}

bool readOnOff(const QString &text, bool *on)
{
    *on = text == QLatin1String("ON");
    return *on || text == QLatin1String("OFF");
}

// Column `column` of a rule row into `rule`; false when the box cannot take the text.
bool readCell(int column, const QString &text, BoxRule *rule)
{
    switch (column) {
    case 1:  // DMX, perhaps followed by "-" and the channel's alias
        return readNumber(text.section(QLatin1Char('-'), 0, 0), 1, 1024, &rule->dmx);
    case 2: {  // Sta
        const QStringList names = {QStringLiteral("Note"), QStringLiteral("AT"), QStringLiteral("CC")};
        const int at = names.indexOf(text);
        rule->status = 9 + at;
        return at >= 0;
    }
    case 3: {  // Ctl: the number, perhaps followed by " / " and a note name
        const int slash = text.indexOf(QLatin1String(" / "));
        return (slash < 0 || slash + 3 < text.size()) && readNumber(text.left(slash), 0, 127, &rule->number);
    }
    case 4:  // CH
        rule->allChannels = text == QLatin1String("ALL");
        return rule->allChannels || readNumber(text, 1, 16, &rule->channel);
    case 5: return readOffOrNumber(text, 255, &rule->fix);
    case 6: return readOffOrNumber(text, 50, &rule->fadeIn);
    case 7: return readOffOrNumber(text, 50, &rule->fadeOut);
    case 8: return readOnOff(text, &rule->toggle);
    case 9:  // Enable may be left empty: the rule is then off
        return text.isEmpty() || readOnOff(text, &rule->enable);
    }
    return true;
}

}  // namespace

bool boxRecordsFromTexts(const QList<QStringList> &rows, QByteArray *records, QString *error)
{
    static const char *const columns[] = {"SN",  "DMX",     "Sta",      "Ctl",    "CH",
                                          "Fix", "Fade In", "Fade Out", "Toggle", "Enable"};
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (rows.size() < kBoxRules)
        return fail(QStringLiteral("the table has %1 rows; the box holds %2 rules and needs every row")
                        .arg(rows.size())
                        .arg(kBoxRules));
    QByteArray out;
    out.reserve(kBoxRecordBytes);
    for (int r = 0; r < kBoxRules; ++r) {
        const QStringList &row = rows.at(r);
        const auto cell = [&row](int c) { return c < row.size() ? row.at(c) : QString(); };
        bool rule = true;
        for (int c = 1; c <= 8; ++c)
            rule = rule && !cell(c).isEmpty();
        if (!rule) {
            out += QByteArray(kBoxRecordSize, '\0');
            continue;
        }
        BoxRule parsed;
        for (int c = 1; c <= 9; ++c)
            if (!readCell(c, cell(c), &parsed))
                return fail(QStringLiteral("Row %1, column %2: \"%3\" is not a value the box can hold")
                                .arg(r + 1)
                                .arg(QLatin1String(columns[c]), cell(c).left(40)));
        out += boxRecord(parsed);
    }
    if (records)
        *records = out;
    return true;
}

QStringList boxRequestNames()
{
    return {QString::fromLatin1(kHello),         QString::fromLatin1(kSettingRequest),
            QString::fromLatin1(kUploadRequest), QString::fromLatin1(kDownloadRequest),
            QString::fromLatin1(kSettingData),   QStringLiteral("identify"),
            QStringLiteral("model ack"),         QStringLiteral("erase")};
}

SimBox::SimBox(const BoxOptions &options)
    : m_options(options), m_records(kBoxRecordBytes, '\0'), m_random(options.seed ? options.seed : 1)
{
    m_options.chunkSize = std::max(1, m_options.chunkSize);
}

void SimBox::setRecords(const QByteArray &records)
{
    m_records = records.left(kBoxRecordBytes);
    m_records.append(QByteArray(kBoxRecordBytes - m_records.size(), '\0'));
    ++m_tableRevision;
}

QList<BoxPiece> SimBox::receive(const QByteArray &bytes)
{
    QList<BoxPiece> out;
    if (bytes.isEmpty())
        return out;
    log(QStringLiteral("<- %1").arg(shown(bytes)));
    m_input += bytes;
    int skipped = 0;
    while (!m_input.isEmpty()) {
        const Take t = m_options.upgradeMode ? takeUpgrade(&out) : takeNormal(&out);
        if (t == Take::NeedMore)
            break;
        if (t == Take::Done)
            continue;
        // Nothing starts here: skip to the next byte that may begin a message.
        int next = 1;
        while (next < m_input.size()) {
            const char c = m_input[next];
            const bool starts = m_options.upgradeMode
                                    ? c == kCommandHead[0]
                                    : std::any_of(std::begin(kRequests), std::end(kRequests),
                                                  [c](const Request &r) { return r.keyword[0] == c; });
            if (starts)
                break;
            ++next;
        }
        skipped += next;
        m_input.remove(0, next);
    }
    if (skipped)
        log(QStringLiteral("skipped %1 unknown bytes").arg(skipped));
    return out;
}

SimBox::Take SimBox::takeNormal(QList<BoxPiece> *out)
{
    for (const Request &r : kRequests) {
        const int n = std::min(m_input.size(), r.keyword.size());
        if (m_input.left(n) != r.keyword.left(n))
            continue;
        if (m_input.size() < r.size)
            return Take::NeedMore;
        const QByteArray frame = m_input.left(r.size);
        m_input.remove(0, r.size);

        if (r.keyword == kHello) {
            if (m_options.cipher) {
                m_authenticated = false;
                m_challenge.clear();
            }
            if (silent(QString::fromLatin1(kHello)))
                return Take::Done;
            message(out, m_options.closeDoor ? "close the door" : "open the door", QString());
            if (m_options.cipher) {
                for (int i = 0; i < kChallengeSize; ++i)
                    m_challenge.append(char(nextRandom() & 0xFF));
                message(out, QByteArray("cipher:") + m_challenge, QStringLiteral("challenge"));
            }
        } else if (r.keyword == kSettingRequest) {
            if (refused(QString::fromLatin1(kSettingRequest)) || silent(QString::fromLatin1(kSettingRequest)))
                return Take::Done;
            QByteArray reply = kSettingRequest;
            putBe16(&reply, 0);
            putBe16(&reply, boxRuleCount(m_records));
            putBe16(&reply, m_settings.breakTime);
            putBe16(&reply, m_settings.markAfterBreak);
            putBe16(&reply, m_settings.coefficientCode);
            putBe16(&reply, m_settings.sleepCode);
            message(out, reply,
                    QStringLiteral("settings reply: break %1 us, mark-after-break %2 us, coefficient %3, sleep %4")
                        .arg(m_settings.breakTime)
                        .arg(m_settings.markAfterBreak)
                        .arg(m_settings.coefficientCode)
                        .arg(m_settings.sleepCode));
        } else if (r.keyword == kUploadRequest) {
            if (refused(QString::fromLatin1(kUploadRequest)) || silent(QString::fromLatin1(kUploadRequest)))
                return Take::Done;
            upload(out);
        } else if (r.keyword == kDownloadRequest) {
            download(frame, out);
        } else if (r.keyword == kSettingData) {
            if (!frame.endsWith(kSettingEnd)) {
                // Not a whole command: give the bytes after the keyword another look.
                log(QStringLiteral("settings command without \"setting end\" ignored"), true);
                m_input.prepend(frame.mid(kSettingData.size()));
                return Take::Done;
            }
            settingCommand(frame, out);
        } else if (r.keyword == kGiveYou) {
            if (!frame.endsWith(kAnswerTail)) {
                log(QStringLiteral("challenge answer without \"nxxxxx\" ignored"), true);
                m_input.prepend(frame.mid(kGiveYou.size()));
                return Take::Done;
            }
            // A right answer is confirmed with "ok", upon which the editor asks for the
            // settings again (they may have been refused before).
            if (cipherAnswer(frame))
                message(out, "ok", QString());
        }
        return Take::Done;
    }
    return Take::NotHere;
}

SimBox::Take SimBox::takeUpgrade(QList<BoxPiece> *out)
{
    const int n = std::min(m_input.size(), kCommandSize);
    QByteArray pattern = kCommandHead + '?' + kCommandTail;
    bool looksLikeCommand = true;
    for (int i = 0; i < n; ++i)
        looksLikeCommand = looksLikeCommand && (i == 4 || m_input[i] == pattern[i]);

    if (m_receivingFirmware && (!m_firmware.isEmpty() || !looksLikeCommand)) {
        const int room = kBoxMaxFirmware - m_firmware.size();
        if (m_input.size() > room)
            log(QStringLiteral("firmware larger than %1 bytes: the rest is dropped").arg(kBoxMaxFirmware), true);
        const QByteArray piece = m_input.left(room);
        m_firmware += piece;
        if (!piece.isEmpty())
            m_firmwarePieces << piece.size();
        m_input.clear();
        return Take::Done;
    }
    if (!looksLikeCommand)
        return Take::NotHere;
    if (m_input.size() < kCommandSize)
        return Take::NeedMore;
    const int code = quint8(m_input[4]);
    m_input.remove(0, kCommandSize);
    switch (code) {
    case 1:
        if (!silent(QStringLiteral("identify")))
            message(out, m_options.model + kCommandTail, QStringLiteral("model reply"));
        break;
    case 2:
        m_firmware.clear();
        m_firmwarePieces.clear();
        m_receivingFirmware = true;
        log(QStringLiteral("erasing"), true);
        if (!silent(QStringLiteral("erase")))
            message(out, "ERASE END", QString(), std::max(m_options.eraseMs, m_options.messageGapMs));
        break;
    case 3:
        if (!silent(QStringLiteral("model ack")))
            message(out, QByteArray::fromHex("aacc06") + m_options.version + kCommandTail,
                    QStringLiteral("version reply"));
        break;
    default: log(QStringLiteral("unknown command %1 ignored").arg(code, 2, 16, QLatin1Char('0')), true); break;
    }
    return Take::Done;
}

void SimBox::message(QList<BoxPiece> *out, const QByteArray &bytes, const QString &what, int delayMs, bool logIt)
{
    const int delay = delayMs >= 0 ? delayMs : m_options.messageGapMs;
    if (m_options.garbage) {
        QByteArray junk;
        const int n = 1 + int(nextRandom() % 8);
        for (int i = 0; i < n; ++i)
            junk.append(char(0x80 + nextRandom() % 0x7F));  // never part of a keyword
        out->append({junk, delay, false});
        log(QStringLiteral("-> junk %1").arg(shown(junk)));
    }
    out->append({bytes, delay, false});
    if (logIt)
        log(QStringLiteral("-> %1").arg(what.isEmpty() ? shown(bytes) : what));
}

void SimBox::upload(QList<BoxPiece> *out)
{
    QByteArray image = buildBoxImage(m_records);
    if (m_options.badChecksum)
        image[17] = char(image[17] ^ 0x01);  // as if a bit had flipped on the way
    int limit = image.size();
    bool vanish = false;
    if (m_options.vanishAfter >= 0 && !m_vanished) {
        limit = int(std::min<qint64>(m_options.vanishAfter, image.size()));
        vanish = m_vanished = true;
    }
    if (limit == 0) {
        out->append({QByteArray(), m_options.messageGapMs, true});
        log(QStringLiteral("-> nothing: vanishing"), true);
        return;
    }
    QList<int> cuts;
    for (int at = m_options.chunkSize; at < limit; at += m_options.chunkSize)
        cuts << at;
    for (int at : m_options.splitAt) {
        if (at > 0 && at < limit)
            cuts << at;
    }
    cuts << limit;
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    int from = 0;
    for (int at : cuts) {
        const QByteArray piece = image.mid(from, at - from);
        if (from == 0)
            message(out, piece, QString(), -1, false);  // junk may go before the image, never inside it
        else
            out->append({piece, m_options.piecePauseMs, false});
        from = at;
    }
    out->last().vanishAfter = vanish;
    log(QStringLiteral("-> table image, %1 of %2 bytes in %3 pieces%4")
            .arg(limit)
            .arg(image.size())
            .arg(cuts.size())
            .arg(vanish ? QStringLiteral(", then vanishing") : QString()),
        vanish);
}

void SimBox::download(const QByteArray &image, QList<BoxPiece> *out)
{
    QByteArray records;
    QString why;
    if (!parseBoxImage(image, &records, &why)) {
        log(QStringLiteral("table image rejected: %1").arg(why), true);
        return;
    }
    if (refused(QString::fromLatin1(kDownloadRequest)))
        return;
    setRecords(records);
    log(QStringLiteral("table stored: %1 rules").arg(boxRuleCount(records)), true);
    if (!silent(QString::fromLatin1(kDownloadRequest)))
        message(out, "download success", QString());
}

void SimBox::settingCommand(const QByteArray &frame, QList<BoxPiece> *out)
{
    const QByteArray p = frame.mid(kSettingData.size(), 6);
    const int number = quint8(p[1]);
    const int check = be16(p, 2);
    const int value = be16(p, 4);
    QString problem;
    BoxSettings next = m_settings;
    bool reset = false;
    if (p[0] != '\0' || check != quint8(p[4]) + quint8(p[5])) {
        problem = QStringLiteral("check value %1 does not match").arg(check);
    } else {
        switch (number) {
        case 1: next.breakTime = value; break;
        case 2: next.markAfterBreak = value; break;
        case 3: next.coefficientCode = value; break;
        case 5: next.sleepCode = value; break;
        case 4:
            reset = value == 1;
            if (!reset)
                problem = QStringLiteral("factory reset with value %1").arg(value);
            break;
        default: problem = QStringLiteral("unknown setting %1").arg(number); break;
        }
        if (problem.isEmpty() && !reset)
            problem = next.problem();
    }
    if (!problem.isEmpty()) {
        log(QStringLiteral("settings command %1 rejected: %2").arg(QString::fromLatin1(p.toHex(' ')), problem), true);
        return;
    }
    if (refused(QString::fromLatin1(kSettingData)))
        return;
    if (reset) {
        m_settings = BoxSettings();
        setRecords(QByteArray());
        log(QStringLiteral("factory reset: default settings, empty table"), true);
    } else {
        m_settings = next;
        log(QStringLiteral("setting %1 = %2").arg(number).arg(value), true);
    }
    if (!silent(QString::fromLatin1(kSettingData)))
        message(out, kSettingEnd, QString());
}

bool SimBox::cipherAnswer(const QByteArray &frame)
{
    const QByteArray answer = frame.mid(kGiveYou.size(), kChallengeSize + 1);
    if (m_challenge.isEmpty()) {
        log(QStringLiteral("challenge answer without a challenge ignored"), true);
        return false;
    }
    const bool right = answer.left(kChallengeSize) == m_challenge && answer[kChallengeSize] == m_challenge[7];
    log(right ? QStringLiteral("challenge answered correctly") : QStringLiteral("challenge answered WRONGLY"), true);
    if (right) {
        m_authenticated = true;
        m_challenge.clear();
    }
    return right;
}

bool SimBox::refused(const QString &request)
{
    if (!m_options.cipherRequired || m_authenticated)
        return false;
    log(QStringLiteral("\"%1\" refused: the challenge has not been answered").arg(request), true);
    return true;
}

int SimBox::idleTimeoutMs() const
{
    if (m_receivingFirmware && !m_firmware.isEmpty())
        return kFirmwareIdleMs;
    return m_input.isEmpty() ? -1 : kMessageIdleMs;
}

void SimBox::idle()
{
    if (!m_input.isEmpty()) {
        log(QStringLiteral("incomplete message dropped: %1").arg(shown(m_input)), true);
        m_input.clear();
    }
    if (m_receivingFirmware && !m_firmware.isEmpty())
        finishFirmware();
}

void SimBox::lineClosed()
{
    m_input.clear();
    if (m_receivingFirmware && !m_firmware.isEmpty())
        finishFirmware();
    m_receivingFirmware = false;
    m_challenge.clear();
    m_authenticated = false;
}

void SimBox::finishFirmware()
{
    m_receivingFirmware = false;
    ++m_firmwareRevision;
    log(QStringLiteral("firmware received: %1 bytes in %2 pieces, byte sum %3")
            .arg(m_firmware.size())
            .arg(m_firmwarePieces.size())
            .arg(boxRecordChecksum(m_firmware)),
        true);
    if (m_expectedFirmware.isEmpty())
        return;
    if (m_firmware == m_expectedFirmware) {
        m_firmwareCheck = FirmwareCheck::Matches;
        log(QStringLiteral("firmware matches the expected image"), true);
        return;
    }
    m_firmwareCheck = FirmwareCheck::Differs;
    int at = 0;
    while (at < m_firmware.size() && at < m_expectedFirmware.size() && m_firmware[at] == m_expectedFirmware[at])
        ++at;
    log(QStringLiteral("firmware DIFFERS from the expected image: %1 bytes received, %2 expected, first difference "
                       "at byte %3")
            .arg(m_firmware.size())
            .arg(m_expectedFirmware.size())
            .arg(at),
        true);
}

quint32 SimBox::nextRandom()
{
    // xorshift32: repeatable for a given seed, which is all a test box needs.
    m_random ^= m_random << 13;
    m_random ^= m_random >> 17;
    m_random ^= m_random << 5;
    return m_random;
}

void SimBox::log(const QString &line, bool important) const
{
    if (m_log)
        m_log(line, important);
}

}  // namespace vl
