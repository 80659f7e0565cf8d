// The software update's own costs: reading an update text and deciding, and an installer
// downloaded from a local server into its private folder with its SHA-256 taken on the way
// (the guarded GET, the file writes and the checksum; no network in between).

#include "update/core/guardedget.h"
#include "update/core/installer.h"
#include "update/core/releasetext.h"
#include "update/core/version.h"

#include "httpserver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace vl::update;

static void BM_ReadUpdateText(benchmark::State &state)
{
    QString text = QStringLiteral("Varilume_V4.1.0\nSHA256 Varilume_V4.1.0.AppImage: %1\nUpdate content:\n")
                       .arg(QString(64, QLatin1Char('a')));
    for (int i = 0; i < 40; ++i)
        text += QStringLiteral("%1. A line of release notes that says what changed.\n").arg(i);
    for (auto _ : state) {
        const ReleaseText release = parseReleaseText(text, QStringLiteral("Varilume_V"));
        const bool newer = isNewerVersion(QStringLiteral("4.0.1"), release.version);
        const AnnouncedHash hash = announcedSha256(text, installerServerName(release.version));
        benchmark::DoNotOptimize(newer);
        benchmark::DoNotOptimize(hash.digest);
    }
}
BENCHMARK(BM_ReadUpdateText);

static void BM_DownloadInstaller(benchmark::State &state)
{
    const qint64 size = state.range(0) << 20;
    vl::test::HttpTestServer server;
    server.start();
    vl::test::HttpTestServer::Reply reply;
    reply.filler = size;
    server.serve("/installer", reply);
    QNetworkAccessManager manager;
    QTemporaryDir root;

    for (auto _ : state) {
        InstallerFile file(QStringLiteral("5.0.AppImage"), root.path());
        QString error;
        if (!file.open(&error)) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        GuardedGet::Options options;
        options.allowHttp = true;
        options.maxBytes = GuardedGet::kLargestBody;
        options.consume = [&file](const QByteArray &piece, QString *e) { return file.write(piece, e); };
        GuardedGet get(&manager, QUrl(server.url().toString() + QStringLiteral("/installer")), options);
        QEventLoop loop;
        QObject::connect(&get, &GuardedGet::finished, &loop, &QEventLoop::quit);
        get.start();
        loop.exec();
        if (get.outcome() != GuardedGet::Outcome::Finished || !file.finish(AnnouncedHash{}, &error)) {
            state.SkipWithError("download failed");
            break;
        }
        file.discard();
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_DownloadInstaller)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
