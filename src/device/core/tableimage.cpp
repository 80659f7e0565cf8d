#include "tableimage.h"

#include "table/core/notenames.h"
#include "table/core/rulemodel.h"
#include "table/core/ruletext.h"

#include <QRegularExpression>

namespace vl {

namespace {

const QString &cell(const QStringList &cells, int column)
{
    static const QString none;
    return column < cells.size() ? cells.at(column) : none;
}

int statusCode(const QString &status)
{
    if (status == QLatin1String("Note"))
        return kStatusNote;
    if (status == QLatin1String("AT"))
        return kStatusAt;
    if (status == QLatin1String("CC"))
        return kStatusCc;
    return 0;  // no code of its own; such rows are refused before anything is sent
}

// "OFF" is 0; anything else is its number, low 8 bits.
quint8 offOrNumber(const QString &text)
{
    if (text == QLatin1String("OFF"))
        return 0;
    return quint8(text.toInt() & 0xFF);
}

int controllerValue(const QString &text)
{
    if (text.size() < 4)
        return text.toInt();
    const QStringList parts = text.split(noteSeparator(), Qt::SkipEmptyParts);
    return parts.size() >= 2 ? parts.first().toInt() : 0;
}

quint16 dmxValue(const QString &text)
{
    const int dash = text.indexOf(QLatin1Char('-'));
    return quint16(dash >= 0 ? text.left(dash).toInt() : text.toInt());
}

// A plain decimal number of at most five digits within [low, high].
bool isNumberIn(const QString &text, int low, int high)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int v = text.toInt();
    return v >= low && v <= high;
}

bool isOffOrNumberIn(const QString &text, int low, int high)
{
    return text == QLatin1String("OFF") || isNumberIn(text, low, high);
}

bool isOnOff(const QString &text) { return text == QLatin1String("ON") || text == QLatin1String("OFF"); }

QString onOff(bool on) { return on ? QStringLiteral("ON") : QStringLiteral("OFF"); }

QString numberOrOff(quint8 v) { return v ? QString::number(v) : QStringLiteral("OFF"); }

}  // namespace

QStringList ruleRowTexts(const RuleModel &rules, int row)
{
    QStringList cells;
    cells.reserve(kRuleColumns);
    for (int c = 0; c < kRuleColumns; ++c)
        cells << rules.text(row, c);
    return cells;
}

bool isCompleteRule(const QStringList &cells)
{
    for (int c = ColDmx; c <= ColToggle; ++c)
        if (cell(cells, c).isEmpty())
            return false;
    return true;
}

QByteArray encodeRuleRecord(const QStringList &cells)
{
    QByteArray record(kRecordSize, '\0');
    if (!isCompleteRule(cells))
        return record;

    const QString &ch = cell(cells, ColCh);
    int channel = ch.toInt();  // "ALL" and other words read as 0
    if (channel >= 1)
        channel -= 1;
    record[0] = char((statusCode(cell(cells, ColSta)) << 4) | (channel & 0x0F));
    record[1] = char(controllerValue(cell(cells, ColCtl)) & 0xFF);

    const quint16 dmx = dmxValue(cell(cells, ColDmx));
    const quint16 flags = quint16(
        (cell(cells, ColEnable) == QLatin1String("ON") ? 1 << 10 : 0) | (ch == QLatin1String("ALL") ? 1 << 11 : 0)
        | (1 << 12) | (cell(cells, ColToggle) == QLatin1String("ON") ? 1 << 13 : 0) | (quint16(dmx - 1) & 0x7FF));
    record[2] = char(flags & 0xFF);
    record[3] = char(flags >> 8);
    record[4] = char(offOrNumber(cell(cells, ColFix)));
    record[5] = char(offOrNumber(cell(cells, ColFadeOut)));
    record[6] = char(offOrNumber(cell(cells, ColFadeIn)));
    return record;
}

quint16 recordChecksum(const QByteArray &records)
{
    quint32 sum = 0;
    for (const char b : records)
        sum += quint8(b);
    return quint16(sum & 0xFFFF);
}

QByteArray buildTableImage(const QByteArray &records)
{
    QByteArray image(kImageHeaderSize, '\0');
    image.replace(0, msg::imageHeader.size(), msg::imageHeader);
    const quint16 sum = recordChecksum(records);
    image[kChecksumOffset] = char(sum & 0xFF);
    image[kChecksumOffset + 1] = char(sum >> 8);
    image.reserve(kImageSize);
    image += records;
    image += msg::imageEnd;
    image += '\0';
    return image;
}

QString imageDamage(const QByteArray &header, const QByteArray &recordArea)
{
    const auto hex16 = [](int v) { return QStringLiteral("0x%1").arg(v, 4, 16, QLatin1Char('0')); };
    QStringList damage;
    if (!header.startsWith(msg::imageHeader))
        damage << QStringLiteral("its header does not begin with \"%1\"").arg(QLatin1String(msg::imageHeader));
    if (header.size() >= kChecksumOffset + 2) {
        const quint16 stored = quint16(quint8(header.at(kChecksumOffset))
                                       | (quint8(header.at(kChecksumOffset + 1)) << 8));
        const quint16 computed = recordChecksum(recordArea);
        if (stored != computed)
            damage << QStringLiteral("its checksum is %1 but its records add up to %2")
                          .arg(hex16(stored), hex16(computed));
    } else {
        damage << QStringLiteral("its header is too short to hold a checksum");
    }
    return damage.join(QStringLiteral("; "));
}

QByteArray encodeTableImage(const RuleModel &rules)
{
    QByteArray records;
    records.reserve(kRecordAreaSize);
    const int rows = qMin(rules.rowCount(), kRuleRows);
    for (int r = 0; r < rows; ++r)
        records += encodeRuleRecord(ruleRowTexts(rules, r));
    records.append(kRecordAreaSize - records.size(), '\0');
    return buildTableImage(records);
}

bool isValidRuleText(int column, const QString &text)
{
    switch (column) {
    case ColDmx: {
        const int dash = text.indexOf(QLatin1Char('-'));
        return isNumberIn(dash >= 0 ? text.left(dash) : text, 1, kDmxChannels);
    }
    case ColSta: return statusCode(text) != 0;
    case ColCtl: {
        // What the encoder reads must be the number the cell shows.
        if (text.size() < 4)
            return isNumberIn(text, 0, 127);
        if (!text.contains(noteSeparator()))
            return false;
        const QStringList parts = text.split(noteSeparator(), Qt::SkipEmptyParts);
        return parts.size() >= 2 && text.startsWith(parts.first() + noteSeparator())
               && isNumberIn(parts.first(), 0, 127);
    }
    case ColCh: return text == QLatin1String("ALL") || isNumberIn(text, 1, 16);
    case ColFix: return isOffOrNumberIn(text, 1, 255);
    case ColFadeIn:
    case ColFadeOut: return isOffOrNumberIn(text, 1, 50);
    case ColToggle: return isOnOff(text);
    case ColEnable: return text.isEmpty() || isOnOff(text);
    default: return true;
    }
}

RuleProblem findInvalidRule(const RuleModel &rules)
{
    const int rows = qMin(rules.rowCount(), kRuleRows);
    for (int r = 0; r < rows; ++r) {
        const QStringList cells = ruleRowTexts(rules, r);
        if (!isCompleteRule(cells))
            continue;
        for (int c = ColDmx; c <= ColEnable; ++c)
            if (!isValidRuleText(c, cells.at(c)))
                return {r, c, cells.at(c)};
    }
    return {};
}

QString ruleColumnTitle(int column)
{
    static const char *const titles[kRuleColumns] = {"SN",          "DMX Channels", "Status",   "Controller", "Channel",
                                                     "Fixed Value", "Fade In",      "Fade Out", "Toggle",     "Enable"};
    return column >= 0 && column < kRuleColumns ? QString::fromLatin1(titles[column]) : QString();
}

QByteArrayList splitRecords(const QByteArray &recordArea)
{
    QByteArrayList groups;
    groups.reserve((recordArea.size() + kRecordSize - 1) / kRecordSize);
    for (int i = 0; i < recordArea.size(); i += kRecordSize)
        groups << recordArea.mid(i, kRecordSize);
    return groups;
}

bool isCompleteUpload(const QByteArrayList &groups)
{
    if (groups.size() != kRuleRows)
        return false;
    for (const QByteArray &g : groups)
        if (g.size() != kRecordSize)
            return false;
    return true;
}

QStringList decodeRuleRecord(const QByteArray &record, int row, int cnum)
{
    if (record.size() != kRecordSize)
        return {};
    const auto byte = [&record](int i) { return quint8(record.at(i)); };
    const quint16 flags = quint16(byte(2) | (byte(3) << 8));
    const QString sn = QString::number(row + 1);
    if (!(flags & (1 << 12)))
        return {sn};

    const int code = byte(0) >> 4;
    const QString status = code == kStatusNote ? QStringLiteral("Note")
                           : code == kStatusAt ? QStringLiteral("AT")
                           : code == kStatusCc ? QStringLiteral("CC")
                                               : QStringLiteral(" ");
    const int number = byte(1);
    const QString controller = (code == kStatusNote || code == kStatusAt)
                                   ? QString::number(number) + noteSeparator() + NoteNames::name(number, cnum)
                                   : QString::number(number);
    const QString channel = (flags & (1 << 11)) ? QStringLiteral("ALL") : QString::number((byte(0) & 0x0F) + 1);

    QStringList cells;
    cells.reserve(kRuleColumns);
    cells << sn << QString::number((flags & 0x3FF) + 1) << status << controller << channel << numberOrOff(byte(4))
          << numberOrOff(byte(6)) << numberOrOff(byte(5)) << onOff(flags & (1 << 13)) << onOff(flags & (1 << 10));
    return cells;
}

}  // namespace vl
