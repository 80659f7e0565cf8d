// Finding the box's ports: the USB device map, one refresh of a port list, and the
// 2000 ms scan of every list, each with its filter, with simulated boxes announced on
// real pseudo-terminals.

#include "common/core/scheduler.h"
#include "common/core/simulatedbox.h"
#include "device/core/portcache.h"
#include "device/ui/portlistupdater.h"
#include "device/core/portscan.h"
#include "ptypeer.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace vl;
using vl::test::PtyPeer;

Q_DECLARE_METATYPE(vl::UsbDevice)
Q_DECLARE_METATYPE(vl::SystemPort)

namespace {

QStringList itemTexts(const QComboBox &box)
{
    QStringList texts;
    for (int i = 0; i < box.count(); ++i)
        texts << box.itemText(i) + "@" + box.itemData(i).toString();
    return texts;
}

std::unique_ptr<SimulatedBoxAnnouncement> announce(const QString &path, quint16 product, const QString &description)
{
    auto a = std::make_unique<SimulatedBoxAnnouncement>();
    QString error;
    if (!a->announce({path, 0x0483, product, description}, &error))
        qWarning("%s", qPrintable(error));
    return a;
}

}  // namespace

class TestPortScan : public QObject {
    Q_OBJECT

    QTemporaryDir boxDir;

private slots:
    void initTestCase() { qputenv("VARILUME_SIMBOX_DIR", boxDir.filePath("boxes").toUtf8()); }

    void deviceMap_data()
    {
        QTest::addColumn<QList<UsbDevice>>("devices");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("filter");
        QTest::addColumn<QStringList>("entries");  // "pid:vid=description" in map order

        const QList<UsbDevice> mixed = {
            {0x0483, 0x5740, "Nemora KVR-9000"},          {0x046d, 0xc52b, "USB Receiver"},
            {0x0483, 0x5740, "Nemora KVR-9000 (second)"},  // same ids: the first one stays
            {0x1209, 0x0001, "nemora lowercase"},         {0x1209, 0x0002, "Nemora"},
            {0x0001, 0x0003, "Nemora Upgrade"},
        };
        // clang-format off
        QTest::newRow("maker's devices only")
            << mixed << "Nemora" << true
            << QStringList{"0002:1209=Nemora", "0003:0001=Nemora Upgrade", "5740:0483=Nemora KVR-9000"};
        QTest::newRow("everything without filter")
            << mixed << "" << false
            << QStringList{"0001:1209=nemora lowercase", "0002:1209=Nemora", "0003:0001=Nemora Upgrade",
                           "5740:0483=Nemora KVR-9000", "c52b:046d=USB Receiver"};
        QTest::newRow("no devices") << QList<UsbDevice>() << "Nemora" << true << QStringList();
        // clang-format on
    }
    void deviceMap()
    {
        QFETCH(QList<UsbDevice>, devices);
        QFETCH(QString, prefix);
        QFETCH(bool, filter);
        QFETCH(QStringList, entries);
        const UsbDeviceMap map = buildUsbDeviceMap(devices, prefix, filter);
        QStringList got;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            got << QString("%1:%2=%3")
                       .arg(it.key().first, 4, 16, QLatin1Char('0'))
                       .arg(it.key().second, 4, 16, QLatin1Char('0'))
                       .arg(it.value());
        QCOMPARE(got, entries);
    }

    void portListRefresh_data()
    {
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<QList<SystemPort>>("ports");
        QTest::addColumn<QStringList>("append");  // "text@port"
        QTest::addColumn<QStringList>("remove");

        const SystemPort box{"ttyACM0", true, 0x0483, 0x5740};
        const SystemPort twin{"ttyACM1", true, 0x0483, 0x5740};
        const SystemPort boxB{"ttyACM2", true, 0x0483, 0x5741};
        const SystemPort other{"ttyUSB0", true, 0x0403, 0x6001};
        const SystemPort plain{"ttyS0", false, 0, 0};

        // clang-format off
        QTest::newRow("a box appears") << QStringList() << QList<SystemPort>{plain, other, box}
                                       << QStringList{"Nemora KVR-9000@ttyACM0"} << QStringList();
        QTest::newRow("identical boxes give one item, the first port")
            << QStringList() << QList<SystemPort>{twin, box} << QStringList{"Nemora KVR-9000@ttyACM1"}
            << QStringList();
        QTest::newRow("listed box stays, new one is appended")
            << QStringList{"Nemora KVR-9000"} << QList<SystemPort>{box, boxB}
            << QStringList{"Nemora KVR-9000 B@ttyACM2"} << QStringList();
        QTest::newRow("unplugged box goes") << QStringList{"Nemora KVR-9000", "Nemora KVR-9000 B"}
                                            << QList<SystemPort>{boxB} << QStringList()
                                            << QStringList{"Nemora KVR-9000"};
        QTest::newRow("texts compare case-sensitively")
            << QStringList{"nemora kvr-9000"} << QList<SystemPort>{box} << QStringList{"Nemora KVR-9000@ttyACM0"}
            << QStringList{"nemora kvr-9000"};
        QTest::newRow("nothing plugged in") << QStringList() << QList<SystemPort>{plain, other} << QStringList()
                                            << QStringList();
        // clang-format on
    }
    void portListRefresh()
    {
        QFETCH(QStringList, current);
        QFETCH(QList<SystemPort>, ports);
        QFETCH(QStringList, append);
        QFETCH(QStringList, remove);
        UsbDeviceMap devices;
        devices.insert(usbDeviceKey(0x0483, 0x5740), "Nemora KVR-9000");
        devices.insert(usbDeviceKey(0x0483, 0x5741), "Nemora KVR-9000 B");
        const PortListChange change = planPortList(current, ports, devices);
        QStringList appended;
        for (const PortListItem &item : change.append)
            appended << item.text + "@" + item.portName;
        QCOMPARE(appended, append);
        QCOMPARE(change.remove, remove);
    }

    void onlyTheUsbEnumeratorLists() { QVERIFY(findUsbDevices({}, "PCI", {}, false).isEmpty()); }

    // The port list follows simulated boxes as they start and stop, within one scan.
    void scanFollowsBoxes()
    {
        PtyPeer first, second, stranger;
        QVERIFY2(first.open() && second.open() && stranger.open(), qPrintable(first.lastError()));

        ManualScheduler clock;
        QComboBox list;
        PortListUpdater updater(clock);
        updater.addList(&list, PortFilter::boxes("Nemora"));
        QCOMPARE(updater.scanTimer()->interval(), 2000);
        QVERIFY(updater.scanTimer()->isActive());
        QCOMPARE(list.count(), 0);

        // A process announces one box at a time.
        auto box = announce(first.slavePath(), 0x5740, "Nemora KVR-9000");
        updater.scanPorts();
        QCOMPARE(itemTexts(list), QStringList{"Nemora KVR-9000@" + first.slavePath()});
        QCOMPARE(list.currentIndex(), 0);  // the first item of an empty list becomes current

        box.reset();
        clock.advance(1999);
        QCOMPARE(list.count(), 1);
        clock.advance(1);  // the timer's next scan drops it
        QCOMPARE(list.count(), 0);

        // A stranger's description never shows.
        auto strange = announce(stranger.slavePath(), 0x6001, "FTDI Serial");
        updater.scanPorts();
        QCOMPARE(list.count(), 0);
        strange.reset();

        box = announce(second.slavePath(), 0x5741, "Nemora KVR-9000 B");
        updater.scanPorts();
        QCOMPARE(itemTexts(list), QStringList{"Nemora KVR-9000 B@" + second.slavePath()});

        // The box came back on another port before a scan saw it go: its item, still the
        // current one, now leads to the new port.
        list.addItem("Nemora KVR-9000", "/dev/pts/gone");
        list.setCurrentIndex(1);
        box.reset();
        box = announce(first.slavePath(), 0x5740, "Nemora KVR-9000");
        clock.advance(2000);
        QCOMPARE(itemTexts(list), QStringList{"Nemora KVR-9000@" + first.slavePath()});
        QCOMPARE(list.currentIndex(), 0);
        QCOMPARE(list.currentData().toString(), first.slavePath());
    }

    // One updater serves the editor's list and the firmware dialog's, each with its own
    // filter: a box in upgrade mode reports a description without the maker's name.
    void listsWithTheirOwnFilters()
    {
        PortSnapshot present;
        present.devices = {{0x0483, 0x5740, "Nemora KVR-9000"},
                           {0x1209, 0x4b3a, "KVR-9000 Bootloader"},
                           {0x046d, 0xc52b, "USB Receiver"}};  // no serial port
        present.ports = {{"ttyACM0", true, 0x0483, 0x5740}, {"ttyACM1", true, 0x1209, 0x4b3a}, {"ttyS0", false, 0, 0}};
        int snapshots = 0;
        ManualScheduler clock;
        PortListUpdater updater(clock);
        updater.setSource([&] {
            ++snapshots;
            return present;
        });
        QComboBox editor, firmware;
        updater.addList(&editor, PortFilter::boxes());
        QCOMPARE(itemTexts(editor), QStringList{"Nemora KVR-9000@ttyACM0"});
        QCOMPARE(firmware.count(), 0);  // not served yet
        updater.addList(&firmware, PortFilter::everyUsbSerialDevice());
        QCOMPARE(itemTexts(firmware), QStringList({"Nemora KVR-9000@ttyACM0", "KVR-9000 Bootloader@ttyACM1"}));

        // One list brought up to date on its own; both follow every scan, from one snapshot.
        present.ports.removeAt(1);
        updater.refresh(&firmware);
        QCOMPARE(itemTexts(firmware), QStringList{"Nemora KVR-9000@ttyACM0"});
        present.ports.removeFirst();
        snapshots = 0;
        clock.advance(PortListUpdater::kScanIntervalMs);
        QCOMPARE(snapshots, 1);
        QCOMPARE(editor.count(), 0);
        QCOMPARE(firmware.count(), 0);

        // A list taken out keeps what it shows; a list that is gone is no longer served.
        present.ports = {{"ttyACM0", true, 0x0483, 0x5740}};
        updater.removeList(&editor);
        {
            QComboBox brief;
            updater.addList(&brief, PortFilter::boxes());
            QCOMPARE(brief.count(), 1);
        }
        clock.advance(PortListUpdater::kScanIntervalMs);
        QCOMPARE(editor.count(), 0);
        QCOMPARE(itemTexts(firmware), QStringList{"Nemora KVR-9000@ttyACM0"});
    }

    // The snapshot the firmware list reads on every 100 ms tick comes from a cache: it is
    // exactly what a fresh scan gives as boxes come and go or crash (their file stays, with
    // nobody holding its lock), and the system is scanned again only when the monitor says
    // something changed, or after the safety interval.
    void cacheGivesWhatAFreshScanGives()
    {
        auto text = [](const PortSnapshot &s) {
            QStringList t;
            for (const UsbDevice &d : s.devices)
                t << QStringLiteral("usb %1:%2 %3").arg(d.vendorId, 4, 16).arg(d.productId, 4, 16).arg(d.description);
            for (const SystemPort &p : s.ports)
                t << QStringLiteral("port %1 %2 %3:%4").arg(p.name).arg(p.hasUsbIds).arg(p.vendorId).arg(p.productId);
            return t;
        };
        ManualScheduler clock;
        PortSnapshotCache cache(clock);
        QCOMPARE(text(cache.snapshot()), text(presentPorts()));

        PtyPeer pty;
        QVERIFY(pty.open());
        auto box = announce(pty.slavePath(), 0x4b3a, "KVR-9000 Bootloader");
        const QStringList withBox = text(cache.snapshot());
        QCOMPARE(withBox, text(presentPorts()));
        QVERIFY(withBox.contains("port " + pty.slavePath() + " 1 1155:19258"));

        // A box that crashed leaves its file behind.
        QFile dead(boxDir.filePath("boxes/simbox-999999.port"));
        QVERIFY(dead.open(QIODevice::WriteOnly));
        dead.write("port=/dev/pts/999\nvendor=1209\nproduct=4b3a\ndescription=KVR-9000 Bootloader\n");
        dead.close();
        QCOMPARE(text(cache.snapshot()), withBox);
        QCOMPARE(text(presentPorts()), withBox);
        box.reset();
        QCOMPARE(text(cache.snapshot()), text(presentPorts()));
        QVERIFY(!text(cache.snapshot()).contains("port " + pty.slavePath() + " 1 1155:19258"));
        dead.remove();

        if (!cache.isMonitoring())
            QSKIP("no udev monitor here: every snapshot scans");
        // Nothing happens on the bus: ten ticks, no scan of the system; then the safety interval.
        const int scans = cache.systemScans();
        for (int i = 0; i < 10; ++i) {
            clock.advance(100);
            cache.snapshot();
        }
        QVERIFY(cache.systemScans() - scans <= 1);  // an unrelated device event may come by
        clock.advance(PortSnapshotCache::kMaxAgeMs);
        const int before = cache.systemScans();
        cache.snapshot();
        QCOMPARE(cache.systemScans(), before + 1);
    }
};

QTEST_MAIN(TestPortScan)
#include "tst_portscan.moc"
