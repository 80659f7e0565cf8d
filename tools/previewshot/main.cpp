// The editor as a user sees it after filling the table with CC and Note rules and pressing
// "test": the light preview, maximized, with its faders and marked keys.
//
//   varilume-previewshot [--full] [--stay SECONDS] [--grab FILE]
//     --full           a full table of 3072 rules, half of them CC rules
//     --stay SECONDS   keep running that long, then exit (default: until closed)
//     --grab FILE      save the preview window itself once it has settled, and exit
//     --no-test        leave the preview closed (the editor alone, for comparison)

#include "app/widget.h"
#include "preview/lightform.h"
#include "resources/resources.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

using namespace vl;

namespace {

const char *const kNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

QString noteText(int n) { return QStringLiteral("%1 / %2%3").arg(n).arg(QLatin1String(kNames[n % 12])).arg(n / 12 - 2); }

void setRow(RuleModel &m, int row, const QStringList &cells)
{
    if (m.rowCount() <= row) {
        const int from = m.rowCount();
        m.setRowCount(row + 1);
        for (int r = from; r <= row; ++r)
            m.setText(r, ColSn, QString::number(r + 1));
    }
    for (int c = 0; c < cells.size(); ++c)
        m.setText(row, c + 1, cells.at(c));
}

// A stage set for a small show: faders on a few controllers, keys on two octaves.
void fillShowTable(RuleModel &m)
{
    int row = 0;
    const int controllers[] = {1, 7, 10, 11, 64, 71, 74, 91};
    for (int c : controllers)
        setRow(m, row++, {QString::number(row), "CC", QString::number(c), c == 64 ? "2" : "ALL", "OFF", "OFF", "OFF",
                          "OFF", c == 11 ? "OFF" : "ON"});
    for (int n = 48; n < 72; n += (n % 12 == 4 || n % 12 == 11) ? 1 : 2)
        setRow(m, row++, {QString::number(row), "Note", noteText(n), "ALL", "OFF", "10", "10", "OFF", "ON"});
    for (int n = 60; n < 67; ++n)
        setRow(m, row++, {QString::number(row), "AT", noteText(n), "1", "OFF", "OFF", "OFF", "OFF", "ON"});
}

// Every row a rule, every other one a CC rule.
void fillFullTable(RuleModel &m)
{
    for (int r = 0; r < kRuleRows; ++r) {
        const bool cc = r % 2 == 0;
        const int n = (r * 7) % 128;
        setRow(m, r, {QString::number(r % 1024 + 1), cc ? "CC" : (r % 4 == 1 ? "Note" : "AT"),
                      cc ? QString::number(n) : noteText(n), r % 3 ? QString::number(r % 16 + 1) : "ALL", "OFF",
                      "OFF", "OFF", "OFF", r % 5 ? "ON" : "OFF"});
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    initResources();

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption full(QStringLiteral("full"));
    const QCommandLineOption stay(QStringLiteral("stay"), QString(), QStringLiteral("seconds"));
    const QCommandLineOption grab(QStringLiteral("grab"), QString(), QStringLiteral("file"));
    const QCommandLineOption noTest(QStringLiteral("no-test"));
    parser.addOptions({full, stay, grab, noTest});
    parser.process(app);

    Widget window;
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(QStringLiteral("#4F4F4F")));
    window.setPalette(palette);
    window.show();

    if (parser.isSet(full))
        fillFullTable(*window.ruleModel());
    else
        fillShowTable(*window.ruleModel());

    // "test", as the user presses it once the table is in.
    if (!parser.isSet(noTest))
        QTimer::singleShot(300, &window, [&window] {
            if (auto *test = window.findChild<QPushButton *>(QStringLiteral("pushButton_4")))
                test->click();
            // Without a window manager (Xvfb) nobody maximizes the preview; do what one would.
            light_Form *form = window.lightForm();
            const QRect screen = form->screen()->availableGeometry();
            if (form->geometry() != screen)
                form->setGeometry(screen);
        });
    if (parser.isSet(grab)) {
        const QString file = parser.value(grab);
        QTimer::singleShot(2000, &window, [&window, file] {
            const bool ok = window.lightForm()->grab().save(file);
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    if (parser.isSet(stay))
        QTimer::singleShot(int(parser.value(stay).toDouble() * 1000), &app, &QCoreApplication::quit);
    return app.exec();
}
