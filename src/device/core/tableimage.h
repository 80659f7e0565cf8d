#pragma once

// The rule table as the box stores it. One rule travels as an 8-byte record:
//
//     byte 0   status code (9 Note, 10 AT, 11 CC) << 4 | MIDI channel - 1 (0 for "ALL")
//     byte 1   controller or note number
//     byte 2-3 flag word, little-endian: bits 0-9 DMX channel - 1, bit 10 Enable "ON",
//              bit 11 channel "ALL", bit 12 always set for a rule, bit 13 Toggle "ON"
//     byte 4   fixed value, byte 5 fade out, byte 6 fade in (0 = "OFF"), byte 7 zero
//
// An empty row is eight zero bytes. The whole table travels as a 24 844-byte image: the
// 256-byte header "download request", 00, checksum (low byte first), zeros; the 3072
// records; "end of data" and a 00 byte. The checksum is the sum of the record bytes
// modulo 65 536.
//
// Everything here works on cell texts and bytes and needs no widget.

#include "table/core/rulecolumns.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QStringList>

namespace vl {

class RuleModel;

namespace msg {
// Both ways: the table image begins with "download request" and its records end at
// "end of data". An upload is recognised by "download" alone.
inline const QByteArray imageHeader = QByteArrayLiteral("download request");
inline const QByteArray imageStart = QByteArrayLiteral("download");
inline const QByteArray imageEnd = QByteArrayLiteral("end of data");
}  // namespace msg

constexpr int kRecordSize = 8;
constexpr int kImageHeaderSize = 256;
constexpr int kRecordAreaSize = kRuleRows * kRecordSize;                            // 24 576
constexpr int kImageTrailerSize = 12;                                               // "end of data" and 00
constexpr int kImageSize = kImageHeaderSize + kRecordAreaSize + kImageTrailerSize;  // 24 844
constexpr int kChecksumOffset = 17;

// Status codes of the record's high nibble.
constexpr int kStatusNote = 9;
constexpr int kStatusAt = 10;
constexpr int kStatusCc = 11;

// The ten texts of row `row`, indexed by RuleColumn (empty texts for missing cells).
QStringList ruleRowTexts(const RuleModel &rules, int row);

// A row is sent as a rule when every cell from "DMX" to "Toggle" holds a text; "Enable"
// is not needed.
bool isCompleteRule(const QStringList &cells);

// The record of one row; eight zero bytes for an incomplete row. Texts outside their
// column's forms are encoded as the box's masks make them (see findInvalidRule).
QByteArray encodeRuleRecord(const QStringList &cells);

// Sum of all bytes, each unsigned, modulo 65 536.
quint16 recordChecksum(const QByteArray &records);

// Header, records and trailer around a record area of 3072 records.
QByteArray buildTableImage(const QByteArray &records);

// What shows that an image was damaged on its way, from its 256-byte header and its record
// area: a header that does not begin with "download request", a checksum that does not
// match the records. Empty when both checks pass; otherwise what failed, e.g. "its
// checksum is 0x1234 but its records add up to 0x1235".
QString imageDamage(const QByteArray &header, const QByteArray &recordArea);

// The image of the first 3072 rows of `rules`; the table must have at least that many.
QByteArray encodeTableImage(const RuleModel &rules);

// Whether `text` is one of the texts column `column` may hold in a complete rule, in the
// form the encoder reads back unchanged: DMX 1 … 1024 (optionally "-alias"), status
// "Note"/"AT"/"CC", controller 0 … 127 (optionally " / name"), channel "ALL" or 1 … 16,
// fixed value "OFF" or 1 … 255, fades "OFF" or 1 … 50, toggle "ON"/"OFF", enable empty,
// "ON" or "OFF". The "SN" column is always valid.
bool isValidRuleText(int column, const QString &text);

struct RuleProblem {
    int row = -1;  // -1: no problem found
    int column = -1;
    QString text;
    bool found() const { return row >= 0; }
};

// The first cell of a complete rule among the first 3072 rows that holds a text outside
// its column's forms, scanning row by row, left to right.
RuleProblem findInvalidRule(const RuleModel &rules);

// The title the window shows above a column ("DMX Channels", "Status", …).
QString ruleColumnTitle(int column);

// Splits a record area into consecutive 8-byte groups; a shorter last group is kept.
QByteArrayList splitRecords(const QByteArray &recordArea);

// Whether an upload holds exactly one 8-byte record for each of the 3072 rows.
bool isCompleteUpload(const QByteArrayList &groups);

// The cell texts of row `row` decoded from one record, under middle-C naming `cnum`:
// ten texts for a rule, only the "SN" text when bit 12 is clear, nothing for a group that
// is not exactly 8 bytes long.
QStringList decodeRuleRecord(const QByteArray &record, int row, int cnum);

}  // namespace vl
