// The stage as the user handles it with the mouse on a real graphics view: fixtures moved,
// resized and kept on the stage, pictures resized, the details panel, and Add, Edit and
// Remove through the stage's controller with scripted dialogs.

#include "preview/ui/addfixturedialog.h"
#include "preview/ui/fixturedetailsdialog.h"
#include "preview/core/previewcore.h"
#include "preview/ui/stagecontroller.h"
#include "preview/ui/stageitems.h"
#include "previewrules.h"
#include "windowtest.h"

#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

const QRectF kStage(0, 0, 600, 400);

QImage picture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(90, 60, 160));
    return image;
}

}  // namespace

class TestStage : public WindowTest {
    Q_OBJECT

    // The stage as the preview window builds it: a scene the size of the view, the
    // details panel on it (hidden), the fixture dialog, and a rule table of four channels.
    std::unique_ptr<QWidget> window;
    QGraphicsScene *scene = nullptr;
    QGraphicsView *view = nullptr;
    AddFixtureDialog *fixtureDialog = nullptr;
    FixtureDetailsDialog *details = nullptr;
    ResizableGraphicsProxyWidget *detailsProxy = nullptr;
    StageController *stage = nullptr;
    std::unique_ptr<GlobalData> registry;
    std::unique_ptr<PreviewCore> core;
    std::unique_ptr<RuleModel> rules;
    std::unique_ptr<RemarkModel> remarks;

    QPoint at(const QPointF &scenePos) const { return view->mapFromScene(scenePos); }

    void press(const QPointF &p) { QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(p)); }
    // QTest's moves carry no buttons, so a drag sends its own.
    void moveTo(const QPointF &p, Qt::MouseButtons buttons = Qt::NoButton)
    {
        const QPoint local = at(p);
        QMouseEvent move(QEvent::MouseMove, local, view->viewport()->mapToGlobal(local), Qt::NoButton, buttons,
                         Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
    }
    void release(const QPointF &p) { QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(p)); }
    void drag(const QPointF &from, const QPointF &to)
    {
        press(from);
        moveTo(from + (to - from) / 2, Qt::LeftButton);
        moveTo(to, Qt::LeftButton);
        release(to);
    }

    // A fixture put on the stage directly, as a project would.
    FixtureItem *putFixture(const QString &name, const QPointF &pos, QList<FixtureChannel> channels = {})
    {
        registry->addFixture({name, channels, -1, -1, -1, -1});
        QList<SelectedChannel> selected;
        for (const FixtureChannel &c : channels) {
            selected.append({QString::number(c.sn), c.dmxCH, c.remark});
            registry->addUsedSN(QString::number(c.sn));
        }
        core->stage().addRecord({name, selected, {}});
        return stage->addFixtureItem(name, {}, true, QString(), pos);
    }

    // Runs "Add Fixture" choosing these SNs and this name in the dialog.
    void addThroughDialog(const QString &name, const QList<int> &sns)
    {
        dialogs->onDialog = [name, sns](QDialog *d) {
            auto *dialog = qobject_cast<AddFixtureDialog *>(d);
            for (const int sn : sns) {
                QListWidget *list = dialog->availableChannelsList();
                for (int i = 0; i < list->count(); ++i)
                    if (FixtureDialogModel::entrySn(list->item(i)->text(), -1) == sn)
                        dialog->on_leftListWidget_itemDoubleClicked(list->item(i));
            }
            dialog->fixtureNameLineEdit()->setText(name);
            dialog->setDisplayNameChecked(true);
            dialog->okButton()->click();
            return dialog->result();
        };
        stage->addFixture();
    }

private slots:
    void init()
    {
        WindowTest::init();
        registry = std::make_unique<GlobalData>();
        rules = std::make_unique<RuleModel>();
        remarks = std::make_unique<RemarkModel>();
        setRules(*rules, {{"11"}, {"12"}, {"13"}, {"14"}});
        core = std::make_unique<PreviewCore>(*registry);
        core->setRuleModel(rules.get());
        core->setRemarkModel(remarks.get());
        window = std::make_unique<QWidget>();
        window->resize(int(kStage.width()), int(kStage.height()));
        scene = new QGraphicsScene(window.get());
        scene->setSceneRect(kStage);
        view = new QGraphicsView(scene, window.get());
        view->setFrameShape(QFrame::NoFrame);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setGeometry(0, 0, int(kStage.width()), int(kStage.height()));
        fixtureDialog = new AddFixtureDialog(core->fixtureDialog(), window.get());
        details = new FixtureDetailsDialog(&core->details());
        detailsProxy = new ResizableGraphicsProxyWidget;
        detailsProxy->setWidget(details);
        scene->addItem(detailsProxy);
        detailsProxy->setZValue(10);
        detailsProxy->resize(400, 300);
        detailsProxy->setPos(150, 60);
        detailsProxy->hide();
        stage = new StageController(*core, scene, fixtureDialog, details, detailsProxy, window.get());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(view->mapToScene(QPoint(0, 0)), QPointF(0, 0));
    }

    void cleanup()
    {
        window.reset();
        core.reset();
        registry.reset();
        rules.reset();
        remarks.reset();
        WindowTest::cleanup();
    }

    // A 50 × 50 fixture at (100, 100) dragged from `from` (item coordinates) by `by`.
    void fixtureDrag_data()
    {
        QTest::addColumn<QPointF>("from");
        QTest::addColumn<QPointF>("by");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<QPointF>("pos");
        const QPointF start(100, 100);
        // clang-format off
        QTest::newRow("corner out to a square") << QPointF(48, 48) << QPointF(30, 10) << QRectF(0, 0, 80, 80) << start;
        QTest::newRow("corner in to the smallest")
            << QPointF(48, 48) << QPointF(-40, -40) << QRectF(0, 0, 32.5, 32.5) << start;
        QTest::newRow("left edge in") << QPointF(1, 25) << QPointF(40, 0) << QRectF(17.5, 0, 32.5, 50) << start;
        QTest::newRow("top edge out") << QPointF(25, 2) << QPointF(0, -30) << QRectF(0, -30, 50, 80) << start;
        QTest::newRow("right edge out") << QPointF(49, 25) << QPointF(20, 7) << QRectF(0, 0, 70, 50) << start;
        QTest::newRow("bottom edge in") << QPointF(25, 49) << QPointF(3, -10) << QRectF(0, 0, 50, 40) << start;
        QTest::newRow("3 px inside the top-left corner moves")
            << QPointF(3, 3) << QPointF(20, 30) << QRectF(0, 0, 50, 50) << QPointF(120, 130);
        QTest::newRow("the body moves") << QPointF(25, 25) << QPointF(-60, 15) << QRectF(0, 0, 50, 50)
                                        << QPointF(40, 115);
        // clang-format on
    }

    void fixtureDrag()
    {
        QFETCH(QPointF, from);
        QFETCH(QPointF, by);
        QFETCH(QRectF, rect);
        QFETCH(QPointF, pos);
        FixtureItem *item = putFixture(QStringLiteral("Par"), QPointF(100, 100));
        const QPointF grab = item->mapToScene(from);
        drag(grab, grab + by);
        QCOMPARE(item->rect(), rect);
        QCOMPARE(item->pos(), pos);
    }

    void fixtureStopsAtTheStageEdge_data()
    {
        QTest::addColumn<QPointF>("by");
        QTest::addColumn<QPointF>("pos");
        // clang-format off
        QTest::newRow("left") << QPointF(-300, 0) << QPointF(0, 100);
        QTest::newRow("top left") << QPointF(-300, -250) << QPointF(0, 0);
        QTest::newRow("right") << QPointF(700, 5) << QPointF(550, 105);
        QTest::newRow("bottom") << QPointF(0, 500) << QPointF(100, 350);
        // clang-format on
    }

    void fixtureStopsAtTheStageEdge()
    {
        QFETCH(QPointF, by);
        QFETCH(QPointF, pos);
        FixtureItem *item = putFixture(QStringLiteral("Par"), QPointF(100, 100));
        const QPointF grab(125, 125);
        drag(grab, grab + by);
        QCOMPARE(item->pos(), pos);
    }

    void hoverCursors_data()
    {
        QTest::addColumn<QPointF>("at");  // item coordinates of a 50 × 50 fixture
        QTest::addColumn<int>("shape");   // -1: no cursor of its own
        // clang-format off
        QTest::newRow("bottom-right corner") << QPointF(47, 46) << int(Qt::SizeFDiagCursor);
        QTest::newRow("right edge") << QPointF(45, 25) << int(Qt::SizeHorCursor);
        QTest::newRow("left edge") << QPointF(2, 25) << int(Qt::SizeHorCursor);
        QTest::newRow("bottom edge") << QPointF(25, 47) << int(Qt::SizeVerCursor);
        QTest::newRow("top-left corner") << QPointF(3, 3) << -1;
        QTest::newRow("middle") << QPointF(25, 25) << -1;
        // clang-format on
    }

    void hoverCursors()
    {
        QFETCH(QPointF, at);
        QFETCH(int, shape);
        FixtureItem *item = putFixture(QStringLiteral("Par"), QPointF(100, 100));
        moveTo(QPointF(300, 300));
        moveTo(item->mapToScene(at));
        if (shape < 0) {
            QVERIFY(!item->hasCursor());
        } else {
            QVERIFY(item->hasCursor());
            QCOMPARE(int(item->cursor().shape()), shape);
        }
        moveTo(QPointF(300, 300));
        QVERIFY(!item->hasCursor());
    }

    void nameCutWithADot_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("cut");
        // clang-format off
        QTest::newRow("fits") << "Par" << false;
        QTest::newRow("too wide") << "Moving head on the left truss" << true;
        QTest::newRow("ends in a dot already") << "Moving head on the left truss no." << true;
        QTest::newRow("surrogate pairs") << QStringLiteral("Lamp ") + QString::fromUtf8("\xF0\x9F\x92\xA1").repeated(20)
                                         << true;
        // clang-format on
    }

    void nameCutWithADot()
    {
        QFETCH(QString, name);
        QFETCH(bool, cut);
        const QFontMetricsF metrics(FixtureItem::nameFont());
        const qreal band = 50;
        bool wasCut = false;
        const QString shown = FixtureItem::nameInBand(name, metrics, band, &wasCut);
        QCOMPARE(wasCut, cut);
        if (!cut) {
            QCOMPARE(shown, name);
            return;
        }
        QVERIFY(shown.endsWith(QLatin1Char('.')));
        QVERIFY(name.startsWith(shown.chopped(1)));
        QVERIFY(metrics.horizontalAdvance(shown) <= band);
        QVERIFY(shown.isValidUtf16());
    }

    void paintsTheFixture()
    {
        FixtureItem *item = putFixture(QStringLiteral("Par"), QPointF(100, 100), {{1, 11, "", 255}, {2, 12, "", 255}});
        LightFixture f = registry->fixture(QStringLiteral("Par"));
        f.brightnessChannel = 11;
        f.redChannel = 12;
        registry->addFixture(f);
        item->setSelected(true);
        QImage image(kStage.size().toSize(), QImage::Format_RGB32);
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            scene->render(&painter, kStage, kStage);
        }
        QCOMPARE(image.pixelColor(125, 125), QColor(255, 0, 0));      // the fill
        QCOMPARE(image.pixelColor(101, 125), QColor(255, 0, 0));      // the outline
        QCOMPARE(image.pixelColor(105, 125), QColor(255, 255, 255));  // the selection
        item->setSelected(false);
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            scene->render(&painter, kStage, kStage);
        }
        QCOMPARE(image.pixelColor(105, 125), QColor(255, 0, 0));
    }

    void pictureHandles()
    {
        auto *item = new MyResizablePixmapItem(QPixmap::fromImage(picture(200, 100)));
        scene->addItem(item);
        item->setPos(50, 50);
        QCOMPARE(item->boundingRect(), QRectF(-8, -8, 216, 116));
        QCOMPARE(item->handleAt(QPointF(200, 100)), MyResizablePixmapItem::BottomRight);
        QCOMPARE(item->handleAt(QPointF(1, 1)), MyResizablePixmapItem::TopLeft);
        QCOMPARE(item->handleAt(QPointF(100, 0)), MyResizablePixmapItem::Top);
        QCOMPARE(item->handleAt(QPointF(202, 30)), MyResizablePixmapItem::Right);
        QCOMPARE(item->handleAt(QPointF(100, 50)), MyResizablePixmapItem::NoHandle);

        drag(QPointF(250, 150), QPointF(300, 170));  // bottom-right corner
        QCOMPARE(item->rect(), QRectF(0, 0, 250, 120));
        drag(QPointF(300, 170), QPointF(0, 0));  // far past the top-left: held at 20 × 20
        QCOMPARE(item->rect(), QRectF(0, 0, 20, 20));
        QCOMPARE(item->pos(), QPointF(50, 50));
        drag(QPointF(60, 60), QPointF(90, 75));  // the body moves the picture
        QCOMPARE(item->pos(), QPointF(80, 65));
        QCOMPARE(item->rect(), QRectF(0, 0, 20, 20));

        auto *broken = new MyResizablePixmapItem(QPixmap());
        QCOMPARE(broken->rect(), QRectF(0, 0, 100, 100));
        delete broken;
    }

    void detailsPanelResizes()
    {
        detailsProxy->show();
        QCOMPARE(detailsProxy->pos(), QPointF(150, 60));  // showing it does not move it
        // Never below 100 × 100, nor below what the panel's own widgets need.
        const QSizeF least = detailsProxy->effectiveSizeHint(Qt::MinimumSize)
                                 .expandedTo(QSizeF(ResizableGraphicsProxyWidget::kMinimumSize,
                                                    ResizableGraphicsProxyWidget::kMinimumSize));
        const QRectF frame = detailsProxy->mapRectToScene(detailsProxy->boundingRect());
        QCOMPARE(detailsProxy->handleAt(detailsProxy->boundingRect().bottomRight() - QPointF(4, 4)),
                 ResizableGraphicsProxyWidget::BottomRight);
        drag(frame.bottomRight() - QPointF(4, 4), frame.bottomRight() - QPointF(600, 600));
        QCOMPARE(detailsProxy->size(), least);
        QCOMPARE(detailsProxy->pos(), QPointF(150, 60));
        QCOMPARE(QSizeF(details->size()), least);
        // The left zone moves the panel with its edge.
        const QRectF small = detailsProxy->mapRectToScene(detailsProxy->boundingRect());
        drag(QPointF(small.left() + 3, small.center().y()), QPointF(small.left() - 47, small.center().y()));
        QCOMPARE(detailsProxy->size(), QSizeF(least.width() + 50, least.height()));
        QCOMPARE(detailsProxy->pos(), QPointF(100, 60));
        // The label takes no clicks: dragging it moves the panel; the table keeps its own.
        const QPointF label = detailsProxy->mapToScene(QPointF(details->fixtureNameLabel()->geometry().center()));
        drag(label, label + QPointF(30, 20));
        QCOMPARE(detailsProxy->pos(), QPointF(130, 80));
        const QPointF table = detailsProxy->mapToScene(QPointF(details->detailsTableView()->geometry().center()));
        drag(table, table + QPointF(30, 20));
        QCOMPARE(detailsProxy->pos(), QPointF(130, 80));
        // The panel resized by itself takes the proxy along.
        details->resize(500, 350);
        QCOMPARE(detailsProxy->size(), QSizeF(500, 350));
    }

    void addFixtureStepsPastWhatIsThere()
    {
        auto *backdrop = new MyResizablePixmapItem(QPixmap::fromImage(picture(200, 100)));
        backdrop->setZValue(-1000);
        scene->addItem(backdrop);
        backdrop->setPos(8, 8);      // covers (0, 0) … (216, 116) with its handles' margin
        detailsProxy->setPos(0, 0);  // hidden, so it does not count
        addThroughDialog(QStringLiteral("Front"), {1, 2});
        addThroughDialog(QStringLiteral("Back"), {3});
        QCOMPARE(stage->fixtureItems().size(), 2);
        QCOMPARE(stage->fixtureItems().at(0)->pos(), QPointF(220, 0));
        QCOMPARE(stage->fixtureItems().at(1)->pos(), QPointF(280, 0));
        QCOMPARE(stage->fixtureItems().at(0)->name(), QStringLiteral("Front"));
        QVERIFY(stage->fixtureItems().at(0)->showName());
        QCOMPARE(core->stage().records().at(0).channels, QList<SelectedChannel>({{"1", 11, ""}, {"2", 12, ""}}));
        QCOMPARE(registry->fixture(QStringLiteral("Back")).selectedChannels.size(), 1);
        QVERIFY(registry->isUsedSN(QStringLiteral("3")));
    }

    void addFixtureNeedsRules()
    {
        rules->setRowCount(0);
        stage->addFixture();
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Warning"));
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("Table model has no rows!"));
        QVERIFY(stage->fixtureItems().isEmpty());
        dialogs->clear();
        setRules(*rules, {{"11"}});
        remarks->setRowCount(0);
        stage->addFixture();  // remarks missing: nothing happens
        QVERIFY(dialogs->asked.isEmpty());
    }

    void clickShowsDetails()
    {
        FixtureItem *item = putFixture(QStringLiteral("Par"), QPointF(100, 100), {{2, 513, "dim", 0}});
        QSignalSpy shown(stage, &StageController::detailsShown);
        press(QPointF(125, 125));
        release(QPointF(125, 125));
        QCOMPARE(stage->currentFixture(), item);
        QVERIFY(item->isSelected());
        QVERIFY(detailsProxy->isVisible());
        QCOMPARE(details->displayedFixtureName(), QStringLiteral("Par"));
        QCOMPARE(details->detailsModel()->cellText(0, FixtureDetailsModel::DmxColumn), QStringLiteral("512+1"));
        QCOMPARE(shown.count(), 1);
        // The fixture clicked is the one the engine lights; its item keeps the levels.
        core->engine().applyDmxValue(513, 200);
        QCOMPARE(item->channelBindings().value(QStringLiteral("513")), 200);
    }

    void doubleClickEdits()
    {
        addThroughDialog(QStringLiteral("Wash"), {1, 2});
        FixtureItem *item = stage->fixtureItems().first();
        const QPointF centre = item->mapToScene(QPointF(25, 25));
        QStringList offered;
        QString nameShown;
        dialogs->onDialog = [&](QDialog *d) {
            auto *dialog = qobject_cast<AddFixtureDialog *>(d);
            nameShown = dialog->fixtureNameLineEdit()->text();
            for (int i = 0; i < dialog->availableChannelsList()->count(); ++i)
                offered << dialog->availableChannelsList()->item(i)->text();
            dialog->fixtureNameLineEdit()->setText(QStringLiteral("Wash 2"));
            dialog->okButton()->click();
            return dialog->result();
        };
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(centre));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at(centre));
        QCOMPARE(nameShown, QStringLiteral("Wash"));
        QCOMPARE(offered.size(), 2);  // SNs 3 and 4; 1 and 2 are the fixture's own
        QCOMPARE(item->name(), QStringLiteral("Wash 2"));
        QCOMPARE(registry->fixtureNames(), QStringList({"Wash 2"}));
        QCOMPARE(core->stage().records().first().name, QStringLiteral("Wash 2"));
        QCOMPARE(details->displayedFixtureName(), QStringLiteral("Wash 2"));
        QVERIFY(detailsProxy->isVisible());
    }

    void removeAsksFirst()
    {
        FixtureItem *item = putFixture(QStringLiteral("Par"), QPointF(100, 100), {{2, 12, "", 0}});
        registry->setSnFixture(QStringLiteral("2"), QStringLiteral("Par"));
        press(QPointF(125, 125));
        release(QPointF(125, 125));
        QVERIFY(detailsProxy->isVisible());
        const LightFixture before = registry->fixture(QStringLiteral("Par"));

        dialogs->buttons << QMessageBox::No;
        stage->removeSelected();
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Confirm Deletion"));
        QCOMPARE(dialogs->lastMessage().text,
                 QStringLiteral("Are you sure you want to delete the light fixture: Par?"));
        QCOMPARE(dialogs->lastMessage().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(dialogs->messageTexts().size(), 1);  // no "Lights Deleted"
        QCOMPARE(stage->fixtureItems(), QList<FixtureItem *>({item}));
        QCOMPARE(core->stage().records().size(), 1);
        QCOMPARE(item->scene(), scene);
        QCOMPARE(registry->fixture(QStringLiteral("Par")), before);
        QVERIFY(registry->isUsedSN(QStringLiteral("2")));
        QCOMPARE(stage->currentFixture(), item);
        QVERIFY(detailsProxy->isVisible());

        dialogs->buttons << QMessageBox::Yes;
        stage->removeSelected();
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Lights Deleted"));
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("The following lights have been deleted: Par"));
        QVERIFY(stage->fixtureItems().isEmpty());
        QVERIFY(core->stage().records().isEmpty());
        QVERIFY(!registry->hasFixture(QStringLiteral("Par")));
        QVERIFY(!registry->isUsedSN(QStringLiteral("2")));
        QCOMPARE(stage->currentFixture(), nullptr);
        QVERIFY(!detailsProxy->isVisible());
        QCOMPARE(details->fixtureNameLabel()->text(), QString());
    }

    // Everything selected goes except the details panel, which goes on working.
    void removeKeepsTheDetailsPanel()
    {
        putFixture(QStringLiteral("A"), QPointF(0, 0), {{1, 11, "", 0}});
        putFixture(QStringLiteral("B"), QPointF(100, 0), {{2, 12, "", 0}});
        auto *backdrop = new MyResizablePixmapItem(QPixmap::fromImage(picture(30, 30)));
        scene->addItem(backdrop);
        detailsProxy->show();
        for (QGraphicsItem *item : scene->items())
            item->setSelected(true);
        QVERIFY(detailsProxy->isSelected());
        dialogs->buttons << QMessageBox::Yes << QMessageBox::Yes;
        stage->removeSelected();
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("The following lights have been deleted: A, B"));
        QCOMPARE(scene->items(), QList<QGraphicsItem *>({detailsProxy}));

        putFixture(QStringLiteral("C"), QPointF(0, 0), {{3, 13, "", 0}});
        QVERIFY(stage->showFixtureDetails(QStringLiteral("C")));
        QVERIFY(detailsProxy->isVisible());
        QCOMPARE(detailsProxy->widget(), details);
        QCOMPARE(details->detailsModel()->rowCount(), 1);
        QVERIFY(!stage->showFixtureDetails(QStringLiteral("gone")));
        QCOMPARE(details->displayedFixtureName(), QStringLiteral("C"));
    }
};

QTEST_MAIN(TestStage)
#include "tst_stage.moc"
