#include "settingsframes.h"

#include <iterator>

namespace vl {

namespace {

QStringList numberChoices(int first, int last, int step)
{
    QStringList list;
    for (int v = first; v <= last; v += step)
        list << QString::number(v);
    return list;
}

}  // namespace

QByteArray settingsPayload(DeviceSetting setting, quint16 value)
{
    const quint8 high = quint8(value >> 8);
    const quint8 low = quint8(value & 0xFF);
    const quint16 check = quint16(high + low);
    QByteArray payload(6, '\0');
    payload[1] = char(setting);
    payload[2] = char(check >> 8);
    payload[3] = char(check & 0xFF);
    payload[4] = char(high);
    payload[5] = char(low);
    return payload;
}

QList<PortWrite> settingsCommand(DeviceSetting setting, quint16 value)
{
    return {{QByteArrayLiteral("settingdata"), false},
            {settingsPayload(setting, value), true},
            {QByteArrayLiteral("setting end"), true}};
}

QList<PortWrite> factoryResetCommand()
{
    return {{QByteArrayLiteral("settingdata") + settingsPayload(DeviceSetting::FactoryReset, 1), true},
            {QByteArrayLiteral("setting end"), false}};
}

const QStringList &breakTimeChoices()
{
    static const QStringList list = numberChoices(100, 1000, 20);
    return list;
}

const QStringList &markAfterBreakChoices()
{
    static const QStringList list = numberChoices(50, 510, 20);
    return list;
}

const QStringList &coefficientChoices()
{
    static const QStringList list = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("2.01"),
                                     QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5")};
    return list;
}

const QStringList &sleepTimeChoices()
{
    static const QStringList list = numberChoices(10, 60, 10);
    return list;
}

double coefficientNumber(int position)
{
    static const double numbers[] = {1.0, 2.0, 2.01, 3.0, 4.0, 5.0};
    return position >= 0 && position < int(std::size(numbers)) ? numbers[position] : 0.0;
}

int settingValueForChoice(DeviceSetting setting, int position)
{
    const auto at = [position](const QStringList &list) {
        return position >= 0 && position < list.size() ? list.at(position).toInt() : -1;
    };
    switch (setting) {
    case DeviceSetting::BreakTime: return at(breakTimeChoices());
    case DeviceSetting::MarkAfterBreak: return at(markAfterBreakChoices());
    case DeviceSetting::Coefficient: return position >= 0 && position < coefficientChoices().size() ? position : -1;
    case DeviceSetting::SleepTime: {
        const int seconds = at(sleepTimeChoices());
        return seconds < 0 ? -1 : seconds / 10;
    }
    case DeviceSetting::FactoryReset: return 1;
    }
    return -1;
}

}  // namespace vl
