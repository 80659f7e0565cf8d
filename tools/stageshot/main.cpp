// Shows a stage the way the preview sets one up, for a screenshot: a background picture
// the mouse made smaller, a fixture that is selected with its details panel open, one with
// a picture, and one whose name is too long for it. The pictures are drawn here.
//
//   varilume-stageshot [--grab FILE] [--fixture-dialog]
//     --grab FILE        save the window itself and exit
//     --fixture-dialog   also open the fixture dialog, editing the wash

#include "preview/ui/addfixturedialog.h"
#include "preview/ui/fixturedetailsdialog.h"
#include "preview/core/previewcore.h"
#include "preview/ui/stagecontroller.h"
#include "preview/ui/stageitems.h"

#include <QApplication>
#include <QDir>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using namespace vl;

namespace {

// A backdrop: a night sky over a truss, with a few beams.
QImage drawBackdrop()
{
    QImage image(640, 360, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 360);
    sky.setColorAt(0, QColor(18, 24, 64));
    sky.setColorAt(1, QColor(70, 30, 90));
    p.fillRect(image.rect(), sky);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        QPainterPath beam;
        const qreal x = 80 + i * 120;
        beam.moveTo(x, 40);
        beam.lineTo(x - 60, 360);
        beam.lineTo(x + 60, 360);
        beam.closeSubpath();
        p.setBrush(QColor(255, 240, 180, 40));
        p.drawPath(beam);
    }
    p.setPen(QPen(QColor(170, 170, 180), 4));
    p.drawLine(20, 40, 620, 40);
    p.drawLine(20, 56, 620, 56);
    for (int x = 20; x < 620; x += 24)
        p.drawLine(x, 40, x + 24, 56);
    p.setBrush(QColor(40, 40, 48));
    p.setPen(Qt::NoPen);
    p.drawRect(0, 300, 640, 60);
    return image;
}

// A lamp: a dark housing with a lens.
QImage drawLamp()
{
    QImage image(96, 96, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 30, 30), 4));
    p.setBrush(QColor(70, 70, 78));
    p.drawRoundedRect(QRectF(14, 20, 68, 56), 10, 10);
    QRadialGradient lens(48, 48, 24);
    lens.setColorAt(0, QColor(255, 255, 230));
    lens.setColorAt(1, QColor(250, 190, 60));
    p.setBrush(lens);
    p.drawEllipse(QPointF(48, 48), 22, 22);
    p.setPen(QPen(QColor(30, 30, 30), 6));
    p.drawLine(48, 4, 48, 20);
    return image;
}

void clickAt(QGraphicsView *view, const QPointF &scenePos)
{
    const QPoint p = view->mapFromScene(scenePos);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, p);
}

void dragBy(QGraphicsView *view, const QPointF &scenePos, const QPointF &by)
{
    const QPoint from = view->mapFromScene(scenePos);
    const QPoint to = view->mapFromScene(scenePos + by);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
    // QTest's moves carry no buttons; a drag needs them.
    for (const QPoint &p : {(from + to) / 2, to}) {
        QMouseEvent move(QEvent::MouseMove, p, view->viewport()->mapToGlobal(p), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
    }
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int grabAt = args.indexOf(QStringLiteral("--grab"));
    const QString grabFile = grabAt > 0 ? args.value(grabAt + 1) : QString();

    QTemporaryDir pictures;
    const QString backdropFile = pictures.filePath(QStringLiteral("backdrop.png"));
    const QString lampFile = pictures.filePath(QStringLiteral("lamp.png"));
    drawBackdrop().save(backdropFile);
    drawLamp().save(lampFile);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Varilume stage"));
    window.resize(1100, 640);
    window.setStyleSheet(QStringLiteral(
        "QWidget { font-family: Arial; }"
        "QWidget#stageWindow { background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #1e1e1e, stop:1 #3c3c3c); }"
        "QGraphicsView { border: 3px solid qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #666666, stop:1 #000000);"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2b2b2b, stop:1 #121212);"
        " border-radius: 12px; }"));
    window.setObjectName(QStringLiteral("stageWindow"));
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(6, 6, 6, 6);
    auto *scene = new QGraphicsScene(&window);
    auto *view = new QGraphicsView(scene);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setRenderHint(QPainter::Antialiasing);
    layout->addWidget(view);

    PreviewCore core;
    GlobalData &registry = core.registry();
    auto *fixtureDialog = new AddFixtureDialog(core.fixtureDialog(), &window);
    auto *details = new FixtureDetailsDialog(&core.details());
    details->setStyleSheet(QStringLiteral("background-color: #e6e6e6;"));
    auto *detailsProxy = new ResizableGraphicsProxyWidget;
    detailsProxy->setWidget(details);
    detailsProxy->setFlag(QGraphicsItem::ItemIsMovable);
    scene->addItem(detailsProxy);
    detailsProxy->setZValue(10);
    detailsProxy->resize(400, 300);
    detailsProxy->hide();
    StageController stage(core, scene, fixtureDialog, details, detailsProxy, &window);

    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    scene->setSceneRect(0, 0, view->viewport()->width(), view->viewport()->height());

    // The background picture, centred as the stage's context menu places it, then made
    // smaller by its bottom-right handle.
    auto *backdrop = new MyResizablePixmapItem(QPixmap::fromImage(drawBackdrop()));
    backdrop->setZValue(-1000);
    scene->addItem(backdrop);
    const QRectF sceneRect = scene->sceneRect();
    backdrop->setPos(sceneRect.center() - backdrop->boundingRect().center());
    dragBy(view, backdrop->mapToScene(backdrop->rect().bottomRight()), QPointF(-120, -60));

    const auto defineFixture = [&](const QString &name, int firstSn, int firstDmx, int brightness, int red, int green,
                                   int blue) {
        LightFixture f;
        f.fixtureName = name;
        const char *remarks[] = {"Dimmer", "Red", "Green", "Blue"};
        for (int i = 0; i < 4; ++i)
            f.selectedChannels.append({firstSn + i, firstDmx + i, QString::fromLatin1(remarks[i]), 0});
        f.brightnessChannel = firstDmx;
        f.redChannel = firstDmx + 1;
        f.greenChannel = firstDmx + 2;
        f.blueChannel = firstDmx + 3;
        registry.addFixture(f);
        QList<SelectedChannel> channels;
        for (const FixtureChannel &c : f.selectedChannels) {
            channels.append({QString::number(c.sn), c.dmxCH, c.remark});
            registry.addUsedSN(QString::number(c.sn));
        }
        registry.setChannelValue(firstDmx, brightness);
        registry.setChannelValue(firstDmx + 1, red);
        registry.setChannelValue(firstDmx + 2, green);
        registry.setChannelValue(firstDmx + 3, blue);
        const FixtureRecord record{
            name,
            channels,
            {{"Brightness", firstDmx}, {"Red", firstDmx + 1}, {"Green", firstDmx + 2}, {"Blue", firstDmx + 3}}};
        core.stage().addRecord(record);
        return record;
    };
    const auto place = [&](const FixtureRecord &record, const QString &picture, const QPointF &pos) {
        return stage.addFixtureItem(record.name, record.bindings, true, picture, pos);
    };

    FixtureItem *wash = place(defineFixture(QStringLiteral("Wash"), 1, 1, 255, 255, 120, 30), QString(),
                              QPointF(120, 400));
    wash->setRect(0, 0, 80, 80);
    place(defineFixture(QStringLiteral("Spot"), 5, 511, 200, 60, 160, 255), lampFile, QPointF(300, 410));
    place(defineFixture(QStringLiteral("Moving head left truss"), 9, 520, 255, 40, 255, 90), QString(),
          QPointF(460, 410));

    // A click on the wash selects it and opens its details beside it.
    QObject::connect(&stage, &StageController::detailsShown,
                     [&] { detailsProxy->setPos(sceneRect.right() - 420, 20); });
    clickAt(view, wash->mapToScene(wash->rect().center()));

    if (args.contains(QStringLiteral("--fixture-dialog"))) {
        QList<QStringList> rows;
        for (int sn = 1; sn <= 16; ++sn)
            rows.append({QString::number(sn), QString::number(sn), QStringLiteral("Channel %1").arg(sn)});
        const FixtureRecord &record = core.stage().records().first();
        fixtureDialog->setChannelRows(rows);
        fixtureDialog->setPicture(lampFile);
        fixtureDialog->setOriginalChannels(record.channels);
        fixtureDialog->setFixtureName(record.name);
        fixtureDialog->setSelectedChannels(record.channels);
        fixtureDialog->setDisplayNameChecked(true);
        fixtureDialog->show();
    }

    if (!grabFile.isEmpty()) {
        QTimer::singleShot(300, [&] {
            window.grab().save(grabFile);
            app.quit();
        });
    }
    return app.exec();
}
