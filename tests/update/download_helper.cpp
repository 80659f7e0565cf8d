// A process that has an installer download under way and waits to be ended: it prints
// the part file's path and sleeps. tst_updatecore sends it the signals that end a program.

#include "update/core/installer.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    vl::update::InstallerFile file(QStringLiteral("9.AppImage"), app.arguments().value(1));
    QString error;
    if (!file.open(&error) || !file.write("half of an installer", &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(file.directory() + QStringLiteral("/9.AppImage.part")));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
