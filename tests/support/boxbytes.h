#pragma once

// What a box sends and what the editor sends it, built the way the tests of the device
// link need them: settings replies and commands, and the table a test box holds.
// Header-only: tests that link the device library include it.

#include "device/core/tableimage.h"
#include "table/core/rulecolumns.h"

#include <QByteArray>
#include <QStringList>

namespace vl::test {

// A 16-bit number, high byte first, as a settings reply carries it.
inline QByteArray be16(int v) { return QByteArray(1, char(v >> 8)) + char(v & 0xFF); }

// The box's settings reply with its four values (and the value the editor reads but does
// not use).
inline QByteArray settingsReply(int breakTime, int mab, int coef, int sleep, int reserved = 0)
{
    return QByteArray("setting request") + QByteArray(2, '\0') + be16(reserved) + be16(breakTime) + be16(mab)
           + be16(coef) + be16(sleep);
}

// The settings command the editor sends for a 6-byte payload given in hex.
inline QByteArray settingsCommand(const char *payloadHex)
{
    return QByteArray("settingdata") + QByteArray::fromHex(payloadHex) + "setting end";
}

// The records the test box holds: rule r drives DMX r % 1024 + 1 from a note (even rows)
// or a controller (odd rows) r % 128 on channel r % 16 + 1; every third row holds no rule.
inline QByteArray boxRecords()
{
    QByteArray records;
    for (int r = 0; r < kRuleRows; ++r) {
        if (r % 3 == 2) {
            records += QByteArray(8, '\0');
            continue;
        }
        const QStringList cells = {QString::number(r + 1),
                                   QString::number(r % 1024 + 1),
                                   r % 2 ? "CC" : "Note",
                                   r % 2 ? QString::number(r % 128) : QString("%1 / x").arg(r % 128),
                                   QString::number(r % 16 + 1),
                                   "OFF",
                                   "OFF",
                                   "OFF",
                                   "OFF",
                                   "ON"};
        records += encodeRuleRecord(cells);
    }
    return records;
}

}  // namespace vl::test
