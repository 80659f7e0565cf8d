// Timings of the device link: building the table image, checking the rules before Set,
// turning a received image into table rows, a whole Set over a pseudo-terminal (against a
// bare pseudo-terminal and against the simulated box), and one scan of the port list.

#include "app/ui/widget.h"
#include "common/ui/dialogs.h"
#include "common/core/simulatedbox.h"
#include "device/ui/portlistupdater.h"
#include "device/core/protocol.h"
#include "device/ui/serialport.h"
#include "device/core/tableimage.h"
#include "ruletables.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace vl;

namespace {

// Answers every question with OK and never blocks.
class AnswerOk final : public DialogSeam {
public:
    QMessageBox::StandardButton message(const MessageRequest &) override { return QMessageBox::Ok; }
    QString fileName(const FileRequest &) override { return {}; }
    InputAnswer inputText(const InputRequest &) override { return {}; }
    int runDialog(QDialog *) override { return 0; }
};

// The tests' sample table, every row a rule.
void fillFullTable(RuleModel &m) { vl::test::fillRuleTable(m, vl::test::sampleRuleRows(kRuleRows, 0)); }

// The box's end of a pseudo-terminal.
struct PtyMaster {
    int fd = -1;
    QString slave;
    PtyMaster()
    {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
            return;
        char name[128];
        if (::ptsname_r(fd, name, sizeof name) != 0)
            return;
        termios tio;
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        slave = QString::fromLocal8Bit(name);
    }
    ~PtyMaster()
    {
        if (fd >= 0)
            ::close(fd);
    }
    qint64 drain()
    {
        char buffer[8192];
        qint64 total = 0;
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            total += n;
        return total;
    }
};

void BM_BuildImage(benchmark::State &state)
{
    RuleModel m;
    fillFullTable(m);
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeTableImage(m));
}
BENCHMARK(BM_BuildImage)->Unit(benchmark::kMillisecond);

void BM_CheckRulesBeforeSet(benchmark::State &state)
{
    RuleModel m;
    fillFullTable(m);
    for (auto _ : state)
        benchmark::DoNotOptimize(findInvalidRule(m));
}
BENCHMARK(BM_CheckRulesBeforeSet)->Unit(benchmark::kMillisecond);

// From the last piece of a received image to 3072 rows in the editor's table and
// table_change emitted.
void BM_ReadIntoTable(benchmark::State &state)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    AnswerOk answers;
    installDialogs(&answers);
    Widget w;
    w.show();
    RuleModel source;
    fillFullTable(source);
    const QByteArray image = encodeTableImage(source);
    bool changed = false;
    QObject::connect(&w, &Widget::table_change, [&changed] { changed = true; });
    ReceiveDispatcher *dispatcher = &w.serialPort()->conversation()->dispatcher();
    for (auto _ : state) {
        state.PauseTiming();
        w.ruleModel()->removeRows(0, w.ruleModel()->rowCount());
        QCoreApplication::processEvents();
        dispatcher->feed(image.left(image.size() - 64));
        changed = false;
        state.ResumeTiming();
        dispatcher->feed(image.right(64));
        while (!changed)
            QCoreApplication::processEvents();
    }
    if (w.ruleModel()->rowCount() != kRuleRows)
        state.SkipWithError("table not filled");
    installDialogs(nullptr);
}
BENCHMARK(BM_ReadIntoTable)->Unit(benchmark::kMillisecond)->Iterations(20);

// Set over a pseudo-terminal: from the click until the box's "download success" has been
// handled. The box reads everything and answers once the whole image is in.
void BM_SetOverPseudoTerminal(benchmark::State &state)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    AnswerOk answers;
    installDialogs(&answers);
    PtyMaster box;
    Widget w;
    fillFullTable(*w.ruleModel());
    w.findChild<QComboBox *>(QStringLiteral("comboBox_ComDevices"))->addItem(QStringLiteral("box"), box.slave);
    w.on_connectButton_clicked();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 50)
        QCoreApplication::processEvents();
    box.drain();
    QMessageBox *busy = w.busyBox();
    for (auto _ : state) {
        w.on_pushButton_2_clicked();
        qint64 received = 0;
        while (received < kImageSize) {
            QCoreApplication::processEvents();
            received += box.drain();
        }
        if (::write(box.fd, "download success", 16) != 16)
            state.SkipWithError("write failed");
        while (busy->isVisible())
            QCoreApplication::processEvents();
    }
    installDialogs(nullptr);
}
BENCHMARK(BM_SetOverPseudoTerminal)->Unit(benchmark::kMillisecond)->Iterations(20);

// Set against the real simulated box: the editor window finds varilume-simbox in its port
// list, connects, and each iteration runs from the click until the box's "download
// success" has been handled. The argument is the box's pause before each answer (--gap).
void BM_SetAgainstSimulatedBox(benchmark::State &state)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    qputenv("VARILUME_SIMBOX_DIR", dir.filePath(QStringLiteral("boxes")).toUtf8());
    QProcess box;
    box.start(QStringLiteral(SIMBOX_PROGRAM), {QStringLiteral("--gap"), QString::number(state.range(0))});
    if (!box.waitForStarted(5000) || !box.waitForReadyRead(5000) || !box.readLine().startsWith("port: ")) {
        state.SkipWithError("the simulated box did not start");
        return;
    }
    AnswerOk answers;
    installDialogs(&answers);
    {
        Widget w;
        fillFullTable(*w.ruleModel());
        bool settings = false;
        QObject::connect(w.serialPort(), &SerialPort::rec_sucess, [&settings] { settings = true; });
        w.on_connectButton_clicked();
        QElapsedTimer handshake;
        handshake.start();
        while (!settings && handshake.elapsed() < 5000)
            QCoreApplication::processEvents();
        if (!settings)
            state.SkipWithError("no handshake with the simulated box");
        QMessageBox *busy = w.busyBox();
        for (auto _ : state) {
            if (!settings)
                break;
            w.on_pushButton_2_clicked();
            QElapsedTimer t;
            t.start();
            while (busy->isVisible() && t.elapsed() < 10000)
                QCoreApplication::processEvents();
            if (busy->isVisible()) {
                state.SkipWithError("no \"download success\"");
                break;
            }
        }
    }
    installDialogs(nullptr);
    box.terminate();
    box.waitForFinished(5000);
}
BENCHMARK(BM_SetAgainstSimulatedBox)->Arg(20)->Arg(0)->ArgName("gap_ms")->Unit(benchmark::kMillisecond)->Iterations(20);

// One refresh of the port list with one simulated box announced.
void BM_ScanPorts(benchmark::State &state)
{
    QTemporaryDir dir;
    qputenv("VARILUME_SIMBOX_DIR", dir.filePath(QStringLiteral("boxes")).toUtf8());
    PtyMaster pty;
    SimulatedBoxAnnouncement announcement;
    announcement.announce({pty.slave, 0x0483, 0x5740, QStringLiteral("Nemora KVR-9000")});
    QComboBox list;
    PortListUpdater updater;
    updater.addList(&list, PortFilter::boxes());
    for (auto _ : state)
        updater.scanPorts();
    if (list.count() != 1)
        state.SkipWithError("box not listed");
}
BENCHMARK(BM_ScanPorts)->Unit(benchmark::kMillisecond);

}  // namespace
