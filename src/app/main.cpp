#include "app/ui/widget.h"

#include "resources/resources.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QPalette>
#include <QTimer>
#include <cstdio>

namespace {

// With --quit-after-show the editor reports how long it took from main() to its first
// painted window and exits; the start-up benchmark uses it.
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(const QElapsedTimer &clock) : m_clock(clock) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("first window painted after %lld ms\n", static_cast<long long>(m_clock.elapsed()));
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer &m_clock;
    bool m_done = false;
};

}  // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varilume"));
    // Lets the desktop match the window with its launcher and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.varilume.Varilume"));
    vl::initResources();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Varilume, the editor of the KVR-9000's MIDI-to-DMX rules."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A workbook (.xlsx) to open at start-up."),
                                 QStringLiteral("[file.xlsx]"));
    QCommandLineOption quitAfterShow(QStringLiteral("quit-after-show"));
    quitAfterShow.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(quitAfterShow);
    parser.process(app);

    vl::Widget window;
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(QStringLiteral("#4F4F4F")));
    window.setPalette(palette);

    FirstPaintProbe probe(clock);
    if (parser.isSet(quitAfterShow))
        window.installEventFilter(&probe);

    window.show();
    // A workbook named on the command line (a launcher passes the files the user opened
    // with it) is opened once the window shows, so that its messages appear over it. The
    // editor holds one table: further files are left alone.
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty()) {
        if (files.size() > 1)
            std::fprintf(stderr, "varilume: opening %s only; the editor holds one table at a time\n",
                         qPrintable(files.first()));
        QTimer::singleShot(0, &window, [&window, path = files.first()] { window.openWorkbookFile(path); });
    }
    return app.exec();
}
