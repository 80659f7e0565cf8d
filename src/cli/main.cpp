// varilume-cli: the box and its workbooks from the command line. Everything happens in
// vl::cli::run(); this only sets up a display-less application, the standard streams and
// the signals that end a command: Ctrl+C, SIGTERM and SIGHUP end it at once, whatever it is
// doing (waiting for the box, reading a workbook, waiting for a reader of a FIFO), remove
// the file it was writing, and end the program as the signal would.

#include "commands.h"
#include "common/core/safefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

// "varilume-cli <command>: interrupted\n", made before any signal can come.
char g_interruptedLine[128];
size_t g_interruptedLineSize = 0;

void onSignal(int sig)
{
    // Only what may be done in a signal handler.
    vl::discardWholeWriteInProgress();
    if (g_interruptedLineSize > 0 && ::write(STDERR_FILENO, g_interruptedLine, g_interruptedLineSize) < 0) {
        // Nothing more can be said.
    }
    // The handler was reset to the default on entry: the program ends as the signal ends
    // it, so a shell or script sees that it was interrupted.
    ::raise(sig);
}

void prepareInterruptedLine(const QStringList &arguments)
{
    const QString command = arguments.value(1);
    const bool named = QRegularExpression(QStringLiteral("^[a-z-]{1,32}$")).match(command).hasMatch();
    const QByteArray line = (named ? QStringLiteral("varilume-cli %1: interrupted\n").arg(command)
                                   : QStringLiteral("varilume-cli: interrupted\n"))
                                .toUtf8();
    g_interruptedLineSize = std::min(size_t(line.size()), sizeof g_interruptedLine);
    std::memcpy(g_interruptedLine, line.constData(), g_interruptedLineSize);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varilume-cli"));

    std::signal(SIGPIPE, SIG_IGN);
    prepareInterruptedLine(app.arguments());
    const int ending[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int sig : ending) {
        struct sigaction action = {};
        action.sa_handler = onSignal;
        // Reset to the default on entry and not blocked while handled, so that raise()
        // ends the program at once; the other two wait meanwhile. No SA_RESTART.
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        for (const int other : ending)
            if (other != sig)
                sigaddset(&action.sa_mask, other);
        sigaction(sig, &action, nullptr);
    }

    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return vl::cli::run(app.arguments(), out, err);
}
