#pragma once

// The box's operating values and the command that sets them. A settings command is three
// writes: "settingdata", a 6-byte payload 00, setting number, check value (high, low),
// value (high, low), and "setting end"; the check value is the sum of the value's two
// bytes. The factory reset sends "settingdata" and its payload as one write.
//
// The choice lists are what the settings dialogs offer; the box reports its values with
// the same numbers. Nothing here needs a widget.

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace vl {

enum class DeviceSetting : quint8 {
    BreakTime = 1,       // microseconds
    MarkAfterBreak = 2,  // microseconds
    Coefficient = 3,     // position in the coefficient list, 0 … 5
    FactoryReset = 4,    // always 1
    SleepTime = 5,       // tens of seconds, 1 … 6
};

// One write to the port, flushed afterwards when `flush` is set.
struct PortWrite {
    QByteArray bytes;
    bool flush = false;
};

QByteArray settingsPayload(DeviceSetting setting, quint16 value);
// "settingdata" | payload (flushed) | "setting end" (flushed).
QList<PortWrite> settingsCommand(DeviceSetting setting, quint16 value);
// "settingdata" with payload 00 04 00 01 00 01 (flushed) | "setting end".
QList<PortWrite> factoryResetCommand();

// The values the box last reported in its settings reply.
struct DeviceSettings {
    quint16 reserved = 0;  // read from the reply but not used
    int breakTime = 0;
    int markAfterBreak = 0;
    int coefficientCode = 0;
    int sleepCode = 0;
};

// "100", "120", … "1000".
const QStringList &breakTimeChoices();
// "50", "70", … "510".
const QStringList &markAfterBreakChoices();
// "1", "2", "2.01", "3", "4", "5".
const QStringList &coefficientChoices();
// "10", "20", … "60".
const QStringList &sleepTimeChoices();

// The factor a coefficient position stands for (1.0 … 5.0); 0.0 for no valid position.
double coefficientNumber(int position);

// The value a settings command carries for a dialog's current choice: the number itself
// for the two times, the position for the coefficient, seconds / 10 for the sleep time.
// Returns -1 when the choice is not one of the setting's.
int settingValueForChoice(DeviceSetting setting, int position);

}  // namespace vl
