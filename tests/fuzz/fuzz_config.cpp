// "./config.ini": any bytes as the preferences file. Reading gives a value for each
// preference; writing one preference keeps the other and reads back as written.

#include "fuzzsupport.h"

#include "app/core/preferences.h"

#include <QDir>

using namespace vl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A fresh directory for every input: the settings class keeps files it has read, and
    // must read this one anew.
    static int serial = 0;
    const QString dir = fuzz::scratchDir() + QStringLiteral("/%1").arg(serial++);
    FUZZ_EXPECT(QDir().mkpath(dir) && QDir::setCurrent(dir));
    fuzz::scratchFile(QStringLiteral("%1/config.ini").arg(serial - 1), fuzz::bytesOf(data, size));

    const bool autoUpdates = Preferences::autoUpdates();
    const int index = Preferences::selectedActionIndex();

    Preferences::setAutoUpdates(!autoUpdates);
    FUZZ_EXPECT(Preferences::autoUpdates() == !autoUpdates);
    FUZZ_EXPECT(Preferences::selectedActionIndex() == index);
    const int chosen = index == 2 ? 1 : 2;
    Preferences::setSelectedActionIndex(chosen);
    FUZZ_EXPECT(Preferences::selectedActionIndex() == chosen);
    FUZZ_EXPECT(Preferences::autoUpdates() == !autoUpdates);

    QDir::setCurrent(fuzz::scratchDir());
    QDir(dir).removeRecursively();
    return 0;
}
