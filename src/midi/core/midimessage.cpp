#include "midimessage.h"

namespace vl::midi {

int shortMessageLength(quint8 status)
{
    if (status < 0x80)
        return 0;
    if (status < 0xF0) {
        const quint8 kind = status & 0xF0;
        return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    }
    switch (status) {
    case 0xF1:  // time code quarter frame
    case 0xF3:  // song select
        return 2;
    case 0xF2:  // song position
        return 3;
    case 0xF0:  // system exclusive needs a long message
    case 0xF7:
    case 0xF4:  // undefined
    case 0xF5:
    case 0xF9:
    case 0xFD: return 0;
    default:  // tune request and real-time messages
        return 1;
    }
}

QByteArray shortMessageBytes(quint32 packed)
{
    const quint8 status = packed & 0xFF;
    const int length = shortMessageLength(status);
    if (length == 0)
        return {};
    QByteArray bytes;
    bytes.append(char(status));
    for (int i = 1; i < length; ++i) {
        const quint8 b = (packed >> (8 * i)) & 0xFF;
        if (b & 0x80)
            return {};  // would be read as a new status byte
        bytes.append(char(b));
    }
    return bytes;
}

}  // namespace vl::midi
