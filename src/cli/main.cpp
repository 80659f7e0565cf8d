// varilume-cli: the box and its workbooks from the command line. Everything happens in
// vl::cli::run(); this only sets up a display-less application, the standard streams and
// Ctrl+C, which ends a wait for the box without writing any output.

#include "cli/boxlink.h"
#include "cli/commands.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varilume-cli"));

    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP})
            sigaction(sig, &action, nullptr);
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        emit vl::cli::Interrupter::instance().interrupted();
    });

    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return vl::cli::run(app.arguments(), out, err);
}
