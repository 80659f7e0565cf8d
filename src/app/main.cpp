#include "widget.h"

#include "resources/resources.h"

#include <QApplication>
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
    vl::initResources();

    vl::Widget window;
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(QStringLiteral("#4F4F4F")));
    window.setPalette(palette);

    FirstPaintProbe probe(clock);
    if (QCoreApplication::arguments().contains(QStringLiteral("--quit-after-show")))
        window.installEventFilter(&probe);

    window.show();
    return app.exec();
}
