// A port the user may not open, and ModemManager: how an open failure is classified, a
// real pseudo-terminal whose mode forbids opening it, the editor's Connect message naming
// both ways to get access, and the ModemManager notice given once.

#include "app/ui/widget.h"
#include "device/core/portaccess.h"
#include "device/ui/serialport.h"
#include "ptypeer.h"
#include "windowtest.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vl;
using vl::test::PtyPeer;

Q_DECLARE_METATYPE(QSerialPort::SerialPortError)
Q_DECLARE_METATYPE(vl::PortOpenFailure)

namespace {

// The system as a test sets it up: one device the user may not use, ModemManager and the
// udev rule as given.
class FakePortSystem : public PortSystem {
public:
    FakePortSystem() { installPortSystem(this); }
    ~FakePortSystem() override { installPortSystem(nullptr); }
    int accessError(const QString &devicePath) const override
    {
        return devicePath == deniedPath ? EACCES : PortSystem::accessError(devicePath);
    }
    bool modemManagerRunning() const override { return modemManager; }
    bool udevRuleInstalled() const override { return rule; }

    QString deniedPath;
    bool modemManager = false;
    bool rule = false;
};

// What an unprivileged user meets on the port: the access check's answer, and whether a
// real QSerialPort open fails with PermissionError and is classified as such.
struct DeniedOpen {
    int accessError = 0;
    bool qtPermissionError = false;
    bool classifiedNoPermission = false;
    bool openSerialPortRefused = false;
};

DeniedOpen tryDeniedOpen(const QString &path)
{
    DeniedOpen result;
    result.accessError = portSystem().accessError(path);
    QSerialPort port;
    port.setPortName(path);
    result.qtPermissionError = !port.open(QIODevice::ReadWrite) && port.error() == QSerialPort::PermissionError;
    result.classifiedNoPermission = classifyOpenFailure(port.error(), result.accessError)
                                    == PortOpenFailure::NoPermission;
    QSerialPort again;
    again.setPortName(path);
    result.openSerialPortRefused = openSerialPort(again) == PortOpenFailure::NoPermission && !again.isOpen();
    return result;
}

}  // namespace

class TestPortAccess : public vl::test::WindowTest {
    Q_OBJECT

    QPushButton *connectButton(Widget &w) { return w.findChild<QPushButton *>("connectButton"); }
    QComboBox *portList(Widget &w) { return w.findChild<QComboBox *>("comboBox_ComDevices"); }

    QTemporaryDir boxDir;

private slots:
    void initTestCase()
    {
        WindowTest::initTestCase();
        // No simulated box of another test shows in the port list.
        qputenv("VARILUME_SIMBOX_DIR", boxDir.filePath("boxes").toUtf8());
    }

    void classification_data()
    {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<int>("accessError");
        QTest::addColumn<PortOpenFailure>("expected");
        // clang-format off
        QTest::newRow("opened") << QSerialPort::NoError << 0 << PortOpenFailure::None;
        QTest::newRow("mode or group forbids it") << QSerialPort::PermissionError << EACCES
                                                  << PortOpenFailure::NoPermission;
        QTest::newRow("not permitted") << QSerialPort::OpenError << EPERM << PortOpenFailure::NoPermission;
        // QSerialPort says PermissionError for a busy device and another program's lock too.
        QTest::newRow("in use") << QSerialPort::PermissionError << 0 << PortOpenFailure::InUse;
        QTest::newRow("no such device") << QSerialPort::DeviceNotFoundError << ENOENT << PortOpenFailure::NotFound;
        QTest::newRow("device gone") << QSerialPort::UnknownError << ENXIO << PortOpenFailure::NotFound;
        QTest::newRow("anything else") << QSerialPort::OpenError << 0 << PortOpenFailure::Other;
        // clang-format on
    }

    void classification()
    {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(int, accessError);
        QFETCH(PortOpenFailure, expected);
        QCOMPARE(classifyOpenFailure(error, accessError), expected);
    }

    // A pseudo-terminal with mode 000 that an unprivileged user opens. Root passes any
    // mode, so as root the check runs in a child process that has become "nobody".
    void realPseudoTerminalWithoutPermission()
    {
        PtyPeer peer;
        QVERIFY2(peer.open(), qPrintable(peer.lastError()));
        const QString path = peer.slavePath();
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0), 0);

        DeniedOpen seen;
        if (::geteuid() != 0) {
            seen = tryDeniedOpen(path);
        } else {
            int channel[2];
            QCOMPARE(::pipe(channel), 0);
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                ::close(channel[0]);
                DeniedOpen result;
                const uid_t nobody = 65534;
                if (::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0)
                    result = tryDeniedOpen(path);
                else
                    result.accessError = -1;
                [[maybe_unused]] const ssize_t n = ::write(channel[1], &result, sizeof result);
                ::_exit(0);
            }
            ::close(channel[1]);
            const ssize_t n = ::read(channel[0], &seen, sizeof seen);
            ::close(channel[0]);
            int status = 0;
            ::waitpid(child, &status, 0);
            QCOMPARE(n, ssize_t(sizeof seen));
            if (seen.accessError == -1)
                QSKIP("cannot become an unprivileged user here");
        }
        QCOMPARE(seen.accessError, EACCES);
        QVERIFY(seen.qtPermissionError);
        QVERIFY(seen.classifiedNoPermission);
        QVERIFY(seen.openSerialPortRefused);
    }

    void portPaths_data()
    {
        QTest::addColumn<QString>("portName");
        QTest::addColumn<QString>("devicePath");
        QTest::addColumn<bool>("pseudoTerminal");
        // clang-format off
        QTest::newRow("system name") << "ttyACM0" << "/dev/ttyACM0" << false;
        QTest::newRow("device path") << "/dev/ttyUSB1" << "/dev/ttyUSB1" << false;
        QTest::newRow("simulated box") << "/dev/pts/7" << "/dev/pts/7" << true;
        QTest::newRow("as QSerialPort names it") << "pts/7" << "/dev/pts/7" << true;
        QTest::newRow("relative path") << "./ttyFake" << "./ttyFake" << false;
        // clang-format on
    }

    void portPaths()
    {
        QFETCH(QString, portName);
        QFETCH(QString, devicePath);
        QFETCH(bool, pseudoTerminal);
        QCOMPARE(portDevicePath(portName), devicePath);
        QCOMPARE(isPseudoTerminal(portName), pseudoTerminal);
    }

    void modemManagerNotice_data()
    {
        QTest::addColumn<bool>("modemManager");
        QTest::addColumn<bool>("rule");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("notice");
        // clang-format off
        QTest::newRow("running, no rule") << true << false << "ttyACM0" << true;
        QTest::newRow("rule installed") << true << true << "ttyACM0" << false;
        QTest::newRow("not running") << false << false << "ttyACM0" << false;
        QTest::newRow("simulated box") << true << false << "/dev/pts/3" << false;
        QTest::newRow("no port chosen") << true << false << "" << false;
        // clang-format on
    }

    void modemManagerNotice()
    {
        QFETCH(bool, modemManager);
        QFETCH(bool, rule);
        QFETCH(QString, port);
        QFETCH(bool, notice);
        FakePortSystem system;
        system.modemManager = modemManager;
        system.rule = rule;
        ModemManagerNotice once;
        QCOMPARE(once.beforeOpening(port), notice ? ModemManagerNotice::text() : QString());
        QCOMPARE(once.beforeOpening(port), QString());  // never twice in a run
    }

    void systemQuestions()
    {
        // Processes: numeric entries with a command name; anything else is passed over.
        QTemporaryDir proc;
        QVERIFY(proc.isValid());
        const auto process = [&](const QString &entry, const QByteArray &comm) {
            QDir(proc.path()).mkpath(entry);
            if (comm.isNull())
                return;
            QFile file(proc.filePath(entry + "/comm"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(comm);
        };
        process("1", "systemd\n");
        process("self", "ModemManager\n");
        process("77", QByteArray());  // ended while the list was read
        QVERIFY(!processRunning(proc.path(), "ModemManager"));
        process("812", "ModemManager\n");
        QVERIFY(processRunning(proc.path(), "ModemManager"));
        QVERIFY(!processRunning(proc.path(), "Modem"));
        // The real process list has this test in it (the kernel keeps 15 characters).
        QVERIFY(processRunning("/proc", QCoreApplication::applicationName().left(15)));

        // The rule: a file of that name in any of the directories.
        QTemporaryDir etc;
        QTemporaryDir lib;
        QVERIFY(QDir(etc.path()).mkdir(udevRuleFileName()));  // a directory is no rule
        const QStringList dirs = {etc.path(), lib.path(), lib.filePath("missing")};
        QVERIFY(!fileInAnyDirectory(dirs, udevRuleFileName()));
        QFile rule(lib.filePath(udevRuleFileName()));
        QVERIFY(rule.open(QIODevice::WriteOnly));
        rule.close();
        QVERIFY(fileInAnyDirectory(dirs, udevRuleFileName()));
    }

    // Connect on a port the user may not open names both ways to get access. As root the
    // mode does not stop the open, so the system's answer for that port is set instead.
    void connectWithoutPermission()
    {
        PtyPeer peer;
        QVERIFY2(peer.open(), qPrintable(peer.lastError()));
        QCOMPARE(::chmod(QFile::encodeName(peer.slavePath()).constData(), 0), 0);
        FakePortSystem system;
        if (::geteuid() == 0)
            system.deniedPath = peer.slavePath();

        Widget w;
        portList(w)->addItem("Nemora KVR-9000", peer.slavePath());
        portList(w)->setCurrentIndex(portList(w)->count() - 1);
        connectButton(w)->click();
        const MessageRequest box = dialogs->lastMessage();
        QCOMPARE(box.title, QString());
        QCOMPARE(box.iconPixmap, QString(":/ico.png"));
        QCOMPARE(box.text, "Device error\n\n" + permissionDeniedMessage(peer.slavePath()));
        for (const char *part : {"permission denied", "60-varilume.rules", "udev", "plug the box in again",
                                 "\"dialout\" group", "log in again"})
            QVERIFY2(box.text.contains(part), part);
        QCOMPARE(connectButton(w)->text(), QString("Connect"));
        QVERIFY(!w.serialPort()->isOpen());
        QVERIFY(peer.expectSilence(50));
    }

    void modemManagerNoticeOnConnect()
    {
        FakePortSystem system;
        system.modemManager = true;
        Widget w;
        portList(w)->addItem("Nemora KVR-9000", "/dev/ttyACM-varilume-test");
        portList(w)->setCurrentIndex(portList(w)->count() - 1);
        connectButton(w)->click();
        connectButton(w)->click();
        const QStringList texts = dialogs->messageTexts();
        QCOMPARE(texts, QStringList({ModemManagerNotice::text(), "Device error", "Device error"}));
        QCOMPARE(dialogs->asked.first().title(), QString("ModemManager"));
    }
};

QTEST_MAIN(TestPortAccess)
#include "tst_portaccess.moc"
