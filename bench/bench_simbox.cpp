// The simulated box: its own work per table transfer, and whole transfers over its
// pseudo-terminal as a plain serial client sees them (upload request to the last byte of
// the image; a 256-byte-piece image write to "download success").

#include "simbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace vl;

namespace {

QByteArray sampleRecords()
{
    QByteArray r = demoBoxRecords();
    for (int i = 23; i < kBoxRules; ++i)
        r.replace(8 * i, 8, QByteArray::fromHex("B0070014") + char(i) + char(i >> 4) + char(i >> 8) + '\0');
    return r;
}

void BM_BoxTakesADownload(benchmark::State &state)
{
    const QByteArray image = buildBoxImage(sampleRecords());
    for (auto _ : state) {
        SimBox box;
        QList<BoxPiece> out;
        for (int at = 0; at < image.size(); at += 256)
            out += box.receive(image.mid(at, 256));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_BoxTakesADownload)->Unit(benchmark::kMicrosecond);

void BM_BoxPreparesAnUpload(benchmark::State &state)
{
    SimBox box;
    box.setRecords(sampleRecords());
    for (auto _ : state)
        benchmark::DoNotOptimize(box.receive("upload request"));
}
BENCHMARK(BM_BoxPreparesAnUpload)->Unit(benchmark::kMicrosecond);

// A running box and a raw client on its port.
struct PtyClient {
    QProcess process;
    int fd = -1;

    bool start(const QStringList &args)
    {
        const QStringList where{"--announce-dir", "/tmp/varilume-bench-simbox"};
        process.start(QStringLiteral(SIMBOX_PROGRAM), args + where);
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return false;
        const QByteArray line = process.readLine().trimmed();
        if (!line.startsWith("port: "))
            return false;
        fd = ::open(line.mid(6).constData(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return false;
        termios t;
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        return true;
    }
    ~PtyClient()
    {
        if (fd >= 0)
            ::close(fd);
        process.terminate();
        process.waitForFinished(5000);
    }
    bool send(const QByteArray &bytes) const
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    QByteArray read(int n) const
    {
        QByteArray got;
        char buf[4096];
        while (got.size() < n) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1)
                break;
            const ssize_t k = ::read(fd, buf, sizeof buf);
            if (k <= 0)
                break;
            got.append(buf, int(k));
        }
        return got;
    }
};

void BM_UploadOverPty(benchmark::State &state)
{
    PtyClient c;
    if (!c.start({"--chunk-size", QString::number(state.range(0)), "--pause", QString::number(state.range(1))})) {
        state.SkipWithError("the box did not start");
        return;
    }
    for (auto _ : state) {
        c.send("upload request");
        if (c.read(kBoxImageSize).size() != kBoxImageSize)
            state.SkipWithError("short upload");
    }
}
BENCHMARK(BM_UploadOverPty)
    ->Args({64, 1})
    ->Args({64, 0})
    ->Args({4096, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

void BM_SetOverPty(benchmark::State &state)
{
    PtyClient c;
    if (!c.start({"--gap", QString::number(state.range(0))})) {
        state.SkipWithError("the box did not start");
        return;
    }
    const QByteArray image = buildBoxImage(sampleRecords());
    for (auto _ : state) {
        for (int at = 0; at < image.size(); at += 256)
            c.send(image.mid(at, 256));
        if (c.read(16) != "download success")
            state.SkipWithError("no success");
    }
}
BENCHMARK(BM_SetOverPty)->Arg(20)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
