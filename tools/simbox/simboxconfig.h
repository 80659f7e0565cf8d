#pragma once

// The simulated box's command line: what the program is told to be and how to misbehave.

#include "simbox.h"

#include <QString>
#include <QStringList>

namespace vl {

// The USB identity the simulated box announces: one product id for the box in normal
// mode, another for its bootloader, so both can be listed at once. The ids only ever
// appear in announcements, never on a USB bus.
constexpr quint16 kSimBoxVendorId = 0x1209;
constexpr quint16 kSimBoxProductId = 0x4B39;
constexpr quint16 kSimBoxBootloaderProductId = 0x4B3A;

struct SimBoxConfig {
    BoxOptions box;
    BoxSettings settings;
    QString tableFile;       // an image to start from
    bool demoTable = false;  // start from the example table
    QString saveTable;       // where the stored image is kept up to date
    QString saveFirmware;    // where received firmware is written
    QString expectFirmware;  // the image received firmware is compared with
    QString announceDir;     // overrides VARILUME_SIMBOX_DIR
    quint16 vendorId = kSimBoxVendorId;
    quint16 productId = kSimBoxProductId;
    QString description = QStringLiteral("Nemora KVR-9000");
    bool verbose = false;
    bool help = false;
    QString helpText;
};

// Parses the arguments (the program name first). On a mistake returns false and says why.
bool parseSimBoxArguments(const QStringList &arguments, SimBoxConfig *config, QString *error);

// Reads a table image file; a wrong size, layout or checksum is an error.
bool loadBoxTable(const QString &path, QByteArray *records, QString *error);

}  // namespace vl
