// The editor as a user sees it after filling the table with CC and Note rules and pressing
// "test": the light preview, maximized, with its faders and marked keys.
//
//   varilume-previewshot [--full] [--play] [--stay SECONDS] [--grab FILE]
//     --full           a full table of 3072 rules, half of them CC rules
//     --play           three fixtures on the stage, played as a user would: the preview
//                      connects to a MIDI input of this program's own on the running JACK
//                      server, three faders are moved and key C3 is held down, so the
//                      fixtures light in their colours; the held key's fixture is clicked,
//                      so the details panel shows its levels
//     --stay SECONDS   keep running that long, then exit (default: until closed)
//     --grab FILE      save the preview window itself once it has settled, and exit
//     --no-test        leave the preview closed (the editor alone, for comparison)
//     --dmx            check "DMX Output", so its line shows whether an OLA daemon answers

#include "app/ui/widget.h"
#include "common/ui/dialogs.h"
#include "device/ui/settingsdialogs.h"
#include "midi/ui/keyboardwidget.h"
#include "midi/ui/midikeybutton.h"
#include "midi/ui/midioutputpanel.h"
#include "preview/ui/ccfaders.h"
#include "preview/ui/lightform.h"
#include "preview/ui/stagecontroller.h"
#include "preview/ui/stageitems.h"
#include "resources/resources.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <RtMidi.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGraphicsView>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace vl;

namespace {

const char *const kNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

QString noteText(int n)
{
    return QStringLiteral("%1 / %2%3").arg(n).arg(QLatin1String(kNames[n % 12])).arg(n / 12 - 2);
}

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

// A stage set for a small show: faders on a few controllers, keys on two octaves. Row r
// drives DMX channel r + 1.
void fillShowTable(RuleModel &m)
{
    int row = 0;
    const auto add = [&](const QString &sta, const QString &ctl, const QString &ch, const QString &fadeIn,
                         const QString &fadeOut, const QString &enable) {
        setRow(m, row, {QString::number(row + 1), sta, ctl, ch, "OFF", fadeIn, fadeOut, "OFF", enable});
        ++row;
    };
    const int controllers[] = {1, 7, 10, 11, 64, 71, 74, 91};
    for (int c : controllers)
        add("CC", QString::number(c), c == 64 ? "2" : "ALL", "OFF", "OFF", c == 11 ? "OFF" : "ON");
    for (int n = 48; n < 72; n += (n % 12 == 4 || n % 12 == 11) ? 1 : 2)
        add("Note", noteText(n), "ALL", "10", "10", "ON");
    for (int n = 60; n < 67; ++n)
        add("AT", noteText(n), "1", "OFF", "OFF", "ON");
}

// The DMX channel of the first rule for this status and number.
int dmxOf(const RuleModel &m, const QString &sta, int number)
{
    for (int r = 0; r < m.rowCount(); ++r)
        if (m.text(r, ColSta) == sta && m.text(r, ColCtl).section(QLatin1Char(' '), 0, 0).toInt() == number)
            return m.text(r, ColDmx).toInt();
    return -1;
}

// Message boxes answered at once (the connection's "Successfully connected" box).
class QuietDialogs final : public DialogSeam {
public:
    QMessageBox::StandardButton message(const MessageRequest &) override { return QMessageBox::Ok; }
    QString fileName(const FileRequest &) override { return {}; }
    InputAnswer inputText(const InputRequest &) override { return {}; }
    int runDialog(QDialog *) override { return 0; }
};

void click(QWidget *widget, const QPoint &at, bool release = true)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    if (!release)
        return;
    QMouseEvent up(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                   Qt::NoModifier);
    QApplication::sendEvent(widget, &up);
}

// Three fixtures on the stage, lit by faders and a held key as the user would light them.
bool play(Widget &window, const QString &inputPort)
{
    light_Form &form = *window.lightForm();
    const RuleModel &rules = *window.ruleModel();
    const int red = dmxOf(rules, "CC", 1), dimmer = dmxOf(rules, "CC", 7), blue = dmxOf(rules, "CC", 10);
    const int key = dmxOf(rules, "Note", 60);

    struct Lamp {
        QString name;
        QList<FixtureChannel> channels;
        int red, green, blue, brightness;
        QPointF at;
    };
    const Lamp lamps[] = {
        {"Wash", {{1, red, "Red", 0}, {2, dimmer, "Dimmer", 0}}, red, -1, -1, dimmer, {140, 90}},
        {"Blinder", {{3, blue, "Blue", 0}, {2, dimmer, "Dimmer", 0}}, -1, -1, blue, dimmer, {300, 90}},
        {"Spot C3", {{key, key, "C3", 0}}, -1, key, -1, key, {460, 90}},  // row key - 1: SN key
    };
    GlobalData &registry = form.core().registry();
    for (const Lamp &l : lamps) {
        LightFixture f;
        f.fixtureName = l.name;
        f.selectedChannels = l.channels;
        f.redChannel = l.red;
        f.greenChannel = l.green;
        f.blueChannel = l.blue;
        f.brightnessChannel = l.brightness;
        registry.addFixture(f);
        QMap<QString, int> roles;
        QList<SelectedChannel> selected;
        for (const auto &[role, dmx] : {std::pair<QString, int>{"Red", l.red},
                                        {"Green", l.green},
                                        {"Blue", l.blue},
                                        {"Brightness", l.brightness}})
            if (dmx >= 0)
                roles.insert(role, dmx);
        for (const FixtureChannel &c : l.channels) {
            selected.append({QString::number(c.sn), c.dmxCH, c.remark});
            registry.addUsedSN(QString::number(c.sn));
        }
        form.core().stage().addRecord({l.name, selected, roles});
        FixtureItem *item = form.stageController()->addFixtureItem(l.name, roles, true, QString(), l.at);
        item->setRect(0, 0, 100, 100);
    }

    // Connect to our own input, as the user would pick it and press "Connect".
    form.midiPanel()->scanConnectionList();
    form.comboBox->setCurrentIndex(form.comboBox->findText(inputPort));
    QuietDialogs quiet;
    installDialogs(&quiet);
    form.pushButton_5->click();
    installDialogs(nullptr);
    if (!form.midiPanel()->midiConnected())
        return false;

    // The spot clicked on the stage: the keys and faders light from now on, and its
    // details show.
    QGraphicsView *view = form.graphicsView;
    click(view->viewport(), view->mapFromScene(lamps[2].at + QPointF(50, 50)));
    form.ccFaders().at(1).slider->setValue(127);
    form.ccFaders().at(7).slider->setValue(110);
    form.ccFaders().at(10).slider->setValue(90);
    // C3 held down near the bottom of the key.
    MidiKeyButton *c3 = form.noteKeyboard->keyForNote(60);
    click(c3, QPoint(c3->width() / 2, c3->height() * 9 / 10), false);
    return true;
}

// Every row a rule, every other one a CC rule.
void fillFullTable(RuleModel &m)
{
    for (int r = 0; r < kRuleRows; ++r) {
        const bool cc = r % 2 == 0;
        const int n = (r * 7) % 128;
        setRow(m, r,
               {QString::number(r % 1024 + 1), cc ? "CC" : (r % 4 == 1 ? "Note" : "AT"),
                cc ? QString::number(n) : noteText(n), r % 3 ? QString::number(r % 16 + 1) : "ALL", "OFF", "OFF", "OFF",
                "OFF", r % 5 ? "ON" : "OFF"});
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
    const QCommandLineOption playOption(QStringLiteral("play"));
    const QCommandLineOption dmx(QStringLiteral("dmx"));
    parser.addOptions({full, stay, grab, noTest, playOption, dmx});
    parser.process(app);

    // The MIDI input the preview plays into, on the running JACK server (which may still be
    // starting).
    std::unique_ptr<RtMidiIn> input;
    const QString inputPort = QStringLiteral("varilume-previewshot:lights");
    if (parser.isSet(playOption)) {
        QElapsedTimer waited;
        waited.start();
        while (!input) {
            try {
                auto in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "varilume-previewshot");
                in->openVirtualPort("lights");
                input = std::move(in);
            } catch (const RtMidiError &e) {
                if (waited.elapsed() > 10000) {
                    std::fprintf(stderr, "varilume-previewshot: no JACK server to play into: %s\n", e.what());
                    return 1;
                }
                QThread::msleep(200);
            }
        }
    }

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

    // The coefficient 2.0, chosen before the preview opens.
    if (parser.isSet(playOption))
        window.cofDialog()->findChild<QComboBox *>()->setCurrentIndex(1);

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
    if (parser.isSet(playOption))
        QTimer::singleShot(800, &window, [&window, inputPort] {
            if (!play(window, inputPort)) {
                std::fprintf(stderr, "varilume-previewshot: the preview did not connect to %s\n",
                             qPrintable(inputPort));
                QCoreApplication::exit(1);
            }
        });
    if (parser.isSet(dmx))
        QTimer::singleShot(600, &window, [&window] {
            if (auto *box = window.lightForm()->findChild<QCheckBox *>(QStringLiteral("dmxOutputBox")))
                box->setChecked(true);
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
