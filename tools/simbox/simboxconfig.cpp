#include "simboxconfig.h"

#include "common/core/safefile.h"
#include "files/core/workbookio.h"
#include "files/core/workbookproblems.h"

#include <QCommandLineParser>
#include <QFile>

#include <cerrno>

namespace vl {

namespace {

bool toInt(const QString &text, int min, int max, int *value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

}  // namespace

bool parseSimBoxArguments(const QStringList &arguments, SimBoxConfig *config, QString *error)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("A simulated KVR-9000 box on a pseudo-terminal. Prints \"port: <path>\" first, "
                       "announces itself to the editor's port list and answers the box's protocol "
                       "until it is stopped with SIGINT or SIGTERM."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption table(
        QStringLiteral("table"),
        QStringLiteral("Start with the rule table of a 24 844-byte table image file, or of a "
                       "workbook (.xlsx) as the editor would send it."),
        QStringLiteral("file"));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Start with a small example table instead of an empty one."));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Start with these settings: break time (us), mark-after-break (us), coefficient code "
                       "0-5, sleep code 1-6. Default 200,50,0,3."),
        QStringLiteral("break,mab,coef,sleep"));
    const QCommandLineOption closeDoor(QStringLiteral("close-door"),
                                       QStringLiteral("Answer \"hello\" with \"close the door\"."));
    const QCommandLineOption cipher(QStringLiteral("cipher"),
                                    QStringLiteral("Send a \"cipher\" challenge after the greeting and check the "
                                                   "answer."));
    const QCommandLineOption cipherRequired(
        QStringLiteral("cipher-required"),
        QStringLiteral("Like --cipher, and serve nothing but the greeting until the challenge is answered."));
    const QCommandLineOption upgrade(QStringLiteral("upgrade"),
                                     QStringLiteral("Be the box's bootloader: identify, erase, firmware pieces."));
    const QCommandLineOption chunkSize(QStringLiteral("chunk-size"),
                                       QStringLiteral("Send the table image in pieces of at most N bytes "
                                                      "(default 64)."),
                                       QStringLiteral("N"));
    const QCommandLineOption splitAt(QStringLiteral("split-at"),
                                     QStringLiteral("Also cut the table image at these offsets."),
                                     QStringLiteral("N,M,..."));
    const QCommandLineOption pause(QStringLiteral("pause"),
                                   QStringLiteral("Milliseconds between the pieces of the table image (default 1)."),
                                   QStringLiteral("ms"));
    const QCommandLineOption gap(QStringLiteral("gap"),
                                 QStringLiteral("Milliseconds before every separate message (default 20)."),
                                 QStringLiteral("ms"));
    const QCommandLineOption garbage(QStringLiteral("garbage"),
                                     QStringLiteral("Send junk bytes before every message."));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Carry out this request but never answer it (repeatable): %1.")
                                        .arg(boxRequestNames().join(QStringLiteral(", "))),
                                    QStringLiteral("request"));
    const QCommandLineOption vanishAfter(
        QStringLiteral("vanish-after"),
        QStringLiteral("Exit during the first table upload once N of its bytes are out."), QStringLiteral("N"));
    const QCommandLineOption badChecksum(
        QStringLiteral("bad-checksum"),
        QStringLiteral("Send the table with a checksum that does not match its records, as a damaged upload."));
    const QCommandLineOption eraseMs(QStringLiteral("erase-ms"),
                                     QStringLiteral("How long an erase takes in upgrade mode (default 300)."),
                                     QStringLiteral("ms"));
    const QCommandLineOption versionText(QStringLiteral("firmware-version"),
                                         QStringLiteral("The version the bootloader reports (default V1.0.3)."),
                                         QStringLiteral("text"));
    const QCommandLineOption saveTable(
        QStringLiteral("save-table"),
        QStringLiteral("Keep the stored table image in this file (after every change and on exit)."),
        QStringLiteral("file"));
    const QCommandLineOption saveFirmware(QStringLiteral("save-firmware"),
                                          QStringLiteral("Write received firmware to this file."),
                                          QStringLiteral("file"));
    const QCommandLineOption expectFirmware(
        QStringLiteral("expect-firmware"),
        QStringLiteral("Compare every firmware received with this file and log whether it matches."),
        QStringLiteral("file"));
    const QCommandLineOption announceDir(QStringLiteral("announce-dir"),
                                         QStringLiteral("Announce the box in this directory (default: "
                                                        "$VARILUME_SIMBOX_DIR, else varilume-simbox in "
                                                        "$XDG_RUNTIME_DIR or the temporary directory)."),
                                         QStringLiteral("dir"));
    const QCommandLineOption usbId(QStringLiteral("usb-id"),
                                   QStringLiteral("Announce this vendor and product id (hex; default 1209:4b39, "
                                                  "1209:4b3a in upgrade mode)."),
                                   QStringLiteral("vid:pid"));
    const QCommandLineOption description(
        QStringLiteral("description"),
        QStringLiteral("Announce this USB description (default \"Nemora KVR-9000\", \"KVR-9000 Bootloader\" "
                       "in upgrade mode)."),
        QStringLiteral("text"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed for challenges and junk bytes (default: random)."),
                                  QStringLiteral("N"));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Log every message received and sent on stderr."));
    p.addOptions({help,        table,       demo,        settings,    closeDoor, cipher,       cipherRequired,
                  upgrade,     chunkSize,   splitAt,     pause,       gap,       garbage,      silent,
                  vanishAfter, badChecksum, eraseMs,     versionText, saveTable, saveFirmware, expectFirmware,
                  announceDir, usbId,       description, seed,        verbose});

    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!p.parse(arguments))
        return fail(p.errorText());
    if (!p.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().first()));

    SimBoxConfig c;
    c.help = p.isSet(help);
    c.helpText = p.helpText();
    c.verbose = p.isSet(verbose);
    c.box.upgradeMode = p.isSet(upgrade);
    c.box.closeDoor = p.isSet(closeDoor);
    c.box.cipherRequired = p.isSet(cipherRequired);
    c.box.cipher = p.isSet(cipher) || c.box.cipherRequired;
    c.box.garbage = p.isSet(garbage);
    c.box.badChecksum = p.isSet(badChecksum);
    c.tableFile = p.value(table);
    c.demoTable = p.isSet(demo);
    if (c.demoTable && !c.tableFile.isEmpty())
        return fail(QStringLiteral("--demo and --table cannot be used together"));
    c.saveTable = p.value(saveTable);
    c.saveFirmware = p.value(saveFirmware);
    c.expectFirmware = p.value(expectFirmware);
    c.announceDir = p.value(announceDir);
    if (c.box.upgradeMode) {
        c.productId = kSimBoxBootloaderProductId;
        c.description = QStringLiteral("KVR-9000 Bootloader");
    }
    if (p.isSet(description)) {
        c.description = p.value(description).trimmed();
        if (c.description.isEmpty() || c.description.contains(QLatin1Char('\n'))
            || c.description.contains(QLatin1Char('\r')))
            return fail(QStringLiteral("--description wants one non-empty line"));
    }

    if (p.isSet(settings)) {
        const QStringList v = p.value(settings).split(QLatin1Char(','));
        if (v.size() != 4 || !toInt(v[0], 0, 65535, &c.settings.breakTime)
            || !toInt(v[1], 0, 65535, &c.settings.markAfterBreak) || !toInt(v[2], 0, 65535, &c.settings.coefficientCode)
            || !toInt(v[3], 0, 65535, &c.settings.sleepCode))
            return fail(QStringLiteral("--settings wants four numbers: break,mab,coef,sleep"));
        const QString problem = c.settings.problem();
        if (!problem.isEmpty())
            return fail(QStringLiteral("--settings: %1").arg(problem));
    }
    if (p.isSet(chunkSize) && !toInt(p.value(chunkSize), 1, kBoxImageSize, &c.box.chunkSize))
        return fail(QStringLiteral("--chunk-size wants a number from 1 to %1").arg(kBoxImageSize));
    if (p.isSet(splitAt)) {
        for (const QString &part : p.value(splitAt).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            int at = 0;
            if (!toInt(part, 1, kBoxImageSize - 1, &at))
                return fail(QStringLiteral("--split-at wants offsets from 1 to %1").arg(kBoxImageSize - 1));
            c.box.splitAt << at;
        }
    }
    if (p.isSet(pause) && !toInt(p.value(pause), 0, 60000, &c.box.piecePauseMs))
        return fail(QStringLiteral("--pause wants milliseconds from 0 to 60000"));
    if (p.isSet(gap) && !toInt(p.value(gap), 0, 60000, &c.box.messageGapMs))
        return fail(QStringLiteral("--gap wants milliseconds from 0 to 60000"));
    if (p.isSet(eraseMs) && !toInt(p.value(eraseMs), 0, 600000, &c.box.eraseMs))
        return fail(QStringLiteral("--erase-ms wants milliseconds from 0 to 600000"));
    if (p.isSet(vanishAfter)) {
        int n = 0;
        if (!toInt(p.value(vanishAfter), 0, kBoxImageSize, &n))
            return fail(QStringLiteral("--vanish-after wants a number from 0 to %1").arg(kBoxImageSize));
        c.box.vanishAfter = n;
    }
    for (const QString &value : p.values(silent)) {
        for (const QString &name : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!boxRequestNames().contains(name.trimmed()))
                return fail(QStringLiteral("--silent: unknown request \"%1\" (known: %2)")
                                .arg(name, boxRequestNames().join(QStringLiteral(", "))));
            c.box.silent << name.trimmed();
        }
    }
    if (p.isSet(versionText)) {
        c.box.version = p.value(versionText).toUtf8();
        if (!c.box.version.startsWith('V') || c.box.version.contains("\r\n"))
            return fail(QStringLiteral("--firmware-version wants a text beginning with \"V\""));
    }
    if (p.isSet(usbId)) {
        const QStringList ids = p.value(usbId).split(QLatin1Char(':'));
        bool okV = false;
        bool okP = false;
        const uint v = ids.value(0).toUInt(&okV, 16);
        const uint d = ids.value(1).toUInt(&okP, 16);
        if (ids.size() != 2 || !okV || !okP || v > 0xFFFF || d > 0xFFFF)
            return fail(QStringLiteral("--usb-id wants two hexadecimal numbers such as 1209:4b39"));
        c.vendorId = quint16(v);
        c.productId = quint16(d);
    }
    if (p.isSet(seed)) {
        bool ok = false;
        c.box.seed = p.value(seed).toUInt(&ok);
        if (!ok)
            return fail(QStringLiteral("--seed wants a number"));
    } else {
        c.box.seed = 0;  // the program picks one
    }
    *config = c;
    return true;
}

bool loadBoxTable(const QString &path, QByteArray *records, QString *error)
{
    if (path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)) {
        // The box then holds what the editor's Set would send after opening the workbook,
        // and refuses what Set refuses.
        const WorkbookImport in = readRuleWorkbook(path);
        QString why = workbookImportProblem(in);
        if (why.isEmpty() && boxRecordsFromTexts(in.rows, records, &why))
            return true;
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    // A regular file only: a FIFO or a device would keep the box from starting.
    QByteArray image;
    FileProblem problem;
    if (!readRegularFile(path, kBoxImageSize, &image, &problem)) {
        if (problem.code != EFBIG) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(path, problem.reason);
            return false;
        }
        image = QByteArray(kBoxImageSize + 1, '\0');  // longer than an image: refused below
    }
    QString why;
    if (!parseBoxImage(image, records, &why)) {
        if (error)
            *error = QStringLiteral("%1 is not a table image: %2").arg(path, why);
        return false;
    }
    return true;
}

}  // namespace vl
