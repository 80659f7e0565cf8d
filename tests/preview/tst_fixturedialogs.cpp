// The fixture details panel and the fixture definition dialog as the user works them:
// double-clicks in the lists, the "X" buttons, the role lists, Ok, Cancel, Select Image.
// What the dialog decides is tested without widgets in tst_fixtures; here the widgets must
// show it and pass the user's actions on.

#include "preview/ui/addfixturedialog.h"
#include "preview/ui/fixturedetailsdialog.h"
#include "windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

QList<QStringList> rows(std::initializer_list<int> sns)
{
    QList<QStringList> result;
    for (const int sn : sns)
        result.append({QString::number(sn), QString::number(100 + sn), QStringLiteral("ch%1").arg(sn)});
    return result;
}

QStringList texts(const QListWidget *list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result << list->item(i)->text();
    return result;
}

// The entry texts the selection's row widgets show.
QStringList selectedTexts(const AddFixtureDialog &d)
{
    QStringList result;
    const QListWidget *list = d.selectedChannelsList();
    for (int i = 0; i < list->count(); ++i)
        result << list->itemWidget(list->item(i))->findChild<QLabel *>()->text();
    return result;
}

QList<int> sns(const QStringList &entries)
{
    QList<int> result;
    for (const QString &e : entries)
        result << FixtureDialogModel::entrySn(e, -1);
    return result;
}

QString entry(int sn)
{
    return FixtureDialogModel::channelEntry(QString::number(sn), 100 + sn, QStringLiteral("ch%1").arg(sn));
}

QStringList comboItems(const QComboBox *combo)
{
    QStringList result;
    for (int i = 0; i < combo->count(); ++i)
        result << combo->itemText(i);
    return result;
}

QImage drawnPicture(QColor colour)
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

}  // namespace

class TestFixtureDialogs : public WindowTest {
    Q_OBJECT

    // A dialog shown on the screen, as the user meets it.
    std::unique_ptr<GlobalData> registry;
    std::unique_ptr<AddFixtureDialog> dialog;

    void openDialog()
    {
        registry = std::make_unique<GlobalData>();
        dialog = std::make_unique<AddFixtureDialog>(nullptr, *registry);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }

    void doubleClickAvailable(int sn)
    {
        QListWidget *list = dialog->availableChannelsList();
        const int row = texts(list).indexOf(entry(sn));
        QVERIFY2(row >= 0, qPrintable(QStringLiteral("SN %1 is not offered").arg(sn)));
        QListWidgetItem *item = list->item(row);
        list->scrollToItem(item);
        // A double-click reaches a widget as a press and release, then the second press.
        const QPoint p = list->visualItemRect(item).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, p);
    }

    void clickRemove(int sn)
    {
        QListWidget *list = dialog->selectedChannelsList();
        const int row = selectedTexts(*dialog).indexOf(entry(sn));
        QVERIFY2(row >= 0, qPrintable(QStringLiteral("SN %1 is not selected").arg(sn)));
        auto *x = list->itemWidget(list->item(row))->findChild<QPushButton *>();
        QCOMPARE(x->text(), QStringLiteral("X"));
        QTest::mouseClick(x, Qt::LeftButton);
    }

private slots:
    void init() { WindowTest::init(); }
    void cleanup()
    {
        dialog.reset();
        registry.reset();
        WindowTest::cleanup();
    }

    // ---- the details panel ----

    void detailsPanelShowsItsModel()
    {
        FixtureDetailsDialog d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Dialog"));
        QCOMPARE(d.fixtureNameLabel()->text(), QStringLiteral("Fixture Name: <name>"));
        QCOMPARE(d.displayedFixtureName(), QStringLiteral("<name>"));
        QCOMPARE(d.detailsTableView()->model(), d.detailsModel());
        QVERIFY(qobject_cast<ProgressBarDelegate *>(
            d.detailsTableView()->itemDelegateForColumn(FixtureDetailsModel::ValueColumn)));
        QVERIFY(!qobject_cast<ProgressBarDelegate *>(d.detailsTableView()->itemDelegateForColumn(0)));

        d.showFixtureName(QStringLiteral("Spot"));
        d.setChannels({{3, 513, QStringLiteral("dim"), 40}, {4, 7, QStringLiteral("red"), 0}});
        QCOMPARE(d.fixtureNameLabel()->text(), QStringLiteral("Fixture Name: Spot"));
        QCOMPARE(d.detailsTableView()->model()->rowCount(), 2);
        QCOMPARE(d.detailsTableView()->model()->index(0, 1).data().toString(), QStringLiteral("512+1"));
        QCOMPARE(d.detailsTableView()->model()->index(0, 1).data(FixtureDetailsModel::kSnRole).toString(),
                 QStringLiteral("3"));
        d.clearDetails();
        QCOMPARE(d.fixtureNameLabel()->text(), QString());
        QCOMPARE(d.detailsTableView()->model()->rowCount(), 0);
    }

    void progressBar_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("barWidth");  // of a 200-pixel cell
        // clang-format off
        QTest::newRow("half") << "128" << 100;
        QTest::newRow("label and value") << "Level:128" << 100;
        QTest::newRow("full") << "255" << 200;
        QTest::newRow("none") << "0" << 0;
        QTest::newRow("not a number") << "dim" << 0;
        QTest::newRow("beyond 255 stays in the cell") << "900" << 200;
        QTest::newRow("negative") << "-20" << 0;
        // clang-format on
    }

    void progressBar()
    {
        QFETCH(QString, text);
        QFETCH(int, barWidth);
        QStandardItemModel model(1, 1);
        model.setData(model.index(0, 0), text);
        ProgressBarDelegate delegate;
        QImage image(200, 30, QImage::Format_RGB32);
        image.fill(Qt::white);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        {
            QPainter painter(&image);
            painter.setPen(Qt::NoPen);
            delegate.paint(&painter, option, model.index(0, 0));
        }
        // Count the bar's green along a row above the text.
        int green = 0;
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, 2) == QColor(50, 205, 50))
                ++green;
        QCOMPARE(green, barWidth);
        // The text is drawn over the middle, in black.
        bool dark = false;
        for (int x = 60; x < 140 && !dark; ++x)
            for (int y = 5; y < 25 && !dark; ++y)
                dark = qGray(image.pixel(x, y)) < 60;
        QVERIFY(dark);
    }

    // ---- the fixture dialog ----

    void looksAsDesigned()
    {
        openDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Dialog"));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(dialog->okButton()->text(), QStringLiteral("Ok"));
        QCOMPARE(dialog->cancelButton()->text(), QStringLiteral("Cancel"));
        QCOMPARE(dialog->selectImageButton()->text(), QStringLiteral("Select Image"));
        QCOMPARE(dialog->showButton()->text(), QStringLiteral("Display name"));
        for (const char *name : {"availableChannelsList", "selectedChannelsList", "brightnessComboBox", "redComboBox",
                                 "greenComboBox", "blueComboBox", "fixtureNameLineEdit", "showButton", "label_7"})
            QVERIFY2(dialog->findChild<QWidget *>(QString::fromLatin1(name)), name);
    }

    void selectionShowsSnOrder()
    {
        openDialog();
        dialog->resetWithChannelRows(rows({1, 2, 3, 4}));
        for (const int sn : {3, 1, 2})
            doubleClickAvailable(sn);
        QCOMPARE(sns(selectedTexts(*dialog)), QList<int>({1, 2, 3}));
        QCOMPARE(texts(dialog->availableChannelsList()), QStringList({entry(4)}));
        QCOMPARE(dialog->selectedChannelsList()->item(0)->sizeHint().height(), 28);
        // Each option is offered by the four role lists.
        QCOMPARE(comboItems(dialog->redComboBox()), QStringList({"", "DMX CH: 101", "DMX CH: 102", "DMX CH: 103"}));
    }

    // A removed entry goes back among the offered ones in SN order; selecting it again
    // before Ok keeps its SN bound.
    void removedEntryReturnsAndItsReleaseIsCancelled()
    {
        openDialog();
        registry->addFixture({QStringLiteral("Par"), {{1, 101, "ch1", 0}, {2, 102, "ch2", 0}}, -1, -1, -1, -1});
        registry->addUsedSN(QStringLiteral("1"));
        registry->addUsedSN(QStringLiteral("2"));
        const QList<SelectedChannel> original = {{"1", 101, "ch1"}, {"2", 102, "ch2"}};
        dialog->setChannelRows(rows({1, 2, 3, 4}));
        dialog->setOriginalChannels(original);
        dialog->setFixtureName(QStringLiteral("Par"));
        dialog->setSelectedChannels(original);
        QCOMPARE(sns(texts(dialog->availableChannelsList())), QList<int>({3, 4}));

        clickRemove(2);
        QCOMPARE(sns(texts(dialog->availableChannelsList())), QList<int>({2, 3, 4}));
        QCOMPARE(sns(selectedTexts(*dialog)), QList<int>({1}));
        doubleClickAvailable(2);
        QCOMPARE(sns(selectedTexts(*dialog)), QList<int>({1, 2}));
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(registry->isUsedSN(QStringLiteral("2")));
        QCOMPARE(registry->fixture(QStringLiteral("Par")).selectedChannels.size(), 2);
    }

    // A used SN is not offered; once an Ok released it, the next opening offers it.
    void usedSnHiddenUntilReleased()
    {
        openDialog();
        registry->addFixture({QStringLiteral("Par"), {{2, 102, "ch2", 0}}, -1, -1, -1, -1});
        registry->addUsedSN(QStringLiteral("2"));
        dialog->resetWithChannelRows(rows({1, 2, 3}));
        QCOMPARE(sns(texts(dialog->availableChannelsList())), QList<int>({1, 3}));

        const QList<SelectedChannel> original = {{"2", 102, "ch2"}};
        dialog->setChannelRows(rows({1, 2, 3}));
        dialog->setOriginalChannels(original);
        dialog->setFixtureName(QStringLiteral("Par"));
        dialog->setSelectedChannels(original);
        clickRemove(2);
        QVERIFY(registry->isUsedSN(QStringLiteral("2")));  // only Ok releases it
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        QVERIFY(!registry->isUsedSN(QStringLiteral("2")));

        dialog->resetWithChannelRows(rows({1, 2, 3}));
        QCOMPARE(sns(texts(dialog->availableChannelsList())), QList<int>({1, 2, 3}));
    }

    void rolesNeverShareAnItem()
    {
        openDialog();
        dialog->resetWithChannelRows(rows({1, 2, 3}));
        for (const int sn : {1, 2, 3})
            doubleClickAvailable(sn);
        dialog->redComboBox()->setCurrentIndex(comboItems(dialog->redComboBox()).indexOf("DMX CH: 102"));
        QCOMPARE(dialog->redComboBox()->currentText(), QStringLiteral("DMX CH: 102"));
        for (QComboBox *other : {dialog->brightnessComboBox(), dialog->greenComboBox(), dialog->blueComboBox()})
            QCOMPARE(comboItems(other), QStringList({"", "DMX CH: 101", "DMX CH: 103"}));
        dialog->brightnessComboBox()->setCurrentIndex(1);
        QCOMPARE(comboItems(dialog->redComboBox()), QStringList({"", "DMX CH: 102", "DMX CH: 103"}));
        QCOMPARE(comboItems(dialog->greenComboBox()), QStringList({"", "DMX CH: 103"}));
        QCOMPARE(dialog->channelBindings(), (QMap<QString, int>{{"Red", 102}, {"Brightness", 101}}));

        // Taking the channel out of the selection empties the role that used it.
        clickRemove(2);
        QCOMPARE(dialog->redComboBox()->currentText(), QString());
        QCOMPARE(dialog->channelBindings(), (QMap<QString, int>{{"Brightness", 101}}));
    }

    void emptySelectionLeavesEveryRoleUnbound()
    {
        openDialog();
        dialog->resetWithChannelRows(rows({1, 2}));
        doubleClickAvailable(1);
        clickRemove(1);
        for (const ColorRole role : {ColorRole::Brightness, ColorRole::Red, ColorRole::Green, ColorRole::Blue})
            QCOMPARE(dialog->roleComboBox(role)->count(), 0);
        QVERIFY(dialog->channelBindings().isEmpty());
        QTest::keyClicks(dialog->fixtureNameLineEdit(), QStringLiteral("Dark"));
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        const LightFixture f = registry->fixture(QStringLiteral("Dark"));
        QCOMPARE(f.fixtureName, QStringLiteral("Dark"));
        QCOMPARE(f.brightnessChannel, -1);
        QCOMPARE(f.redChannel, -1);
        QCOMPARE(f.greenChannel, -1);
        QCOMPARE(f.blueChannel, -1);
    }

    void okWithoutANameStaysOpen()
    {
        openDialog();
        dialog->resetWithChannelRows(rows({1}));
        doubleClickAvailable(1);
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Error"));
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("Please enter a fixture name."));
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Warning);
        QVERIFY(dialog->isVisible());
        QVERIFY(registry->fixtureMap().isEmpty());
        QVERIFY(!registry->isUsedSN(QStringLiteral("1")));
    }

    // A name another fixture has is refused before anything is stored: the existing
    // fixture, its channels and its SN bindings stay as they were.
    void takenNameIsRefused()
    {
        openDialog();
        const LightFixture par{QStringLiteral("Par"), {{1, 101, "ch1", 77}}, 101, -1, -1, 101};
        registry->addFixture(par);
        registry->addUsedSN(QStringLiteral("1"));
        registry->setSnFixture(QStringLiteral("1"), QStringLiteral("Par"));
        dialog->resetWithChannelRows(rows({1, 2}));
        doubleClickAvailable(2);
        QTest::keyClicks(dialog->fixtureNameLineEdit(), QStringLiteral("Par"));
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Duplicate Name"));
        QCOMPARE(dialogs->lastMessage().text,
                 QStringLiteral("The fixture name already exists. Please enter a new name."));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->fixtureNameLineEdit()->text(), QString());
        QCOMPARE(registry->fixture(QStringLiteral("Par")), par);
        QCOMPARE(registry->fixtureOfSn(QStringLiteral("2")), QString());
        QVERIFY(!registry->isUsedSN(QStringLiteral("2")));
        QCOMPARE(sns(selectedTexts(*dialog)), QList<int>({2}));  // ready for another name

        QTest::keyClicks(dialog->fixtureNameLineEdit(), QStringLiteral("Par 2"));
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(registry->fixtureOfSn(QStringLiteral("2")), QStringLiteral("Par 2"));
        QCOMPARE(registry->fixture(QStringLiteral("Par")), par);
    }

    void cancelOffersTheOriginalChannels()
    {
        openDialog();
        const QList<SelectedChannel> original = {{"1", 101, "ch1"}};
        dialog->setChannelRows(rows({2, 3}));
        dialog->setOriginalChannels(original);
        dialog->setSelectedChannels(original);
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(texts(dialog->availableChannelsList()), QStringList({entry(1)}));
        QCOMPARE(dialog->selectedChannelsList()->count(), 0);
        QCOMPARE(dialog->redComboBox()->count(), 0);
    }

    void selectImage()
    {
        openDialog();
        QDir().mkpath(QStringLiteral("elsewhere"));
        QVERIFY(drawnPicture(Qt::red).save(QStringLiteral("elsewhere/lamp.png")));
        QFile("elsewhere/notes.png").open(QIODevice::WriteOnly);

        dialogs->files << dir->file(QStringLiteral("elsewhere/lamp.png"));
        QTest::mouseClick(dialog->selectImageButton(), Qt::LeftButton);
        const Asked asked = dialogs->asked.last();
        QCOMPARE(asked.kind, Asked::File);
        QCOMPARE(asked.file.caption, QStringLiteral("Open a file."));
        QCOMPARE(asked.file.directory, QDir::current().absoluteFilePath(QStringLiteral("pix")));
        QCOMPARE(asked.file.filter, QStringLiteral("Images (*.png *.jpeg *.bmp *.jpg *.gif *.webp)"));
        QCOMPARE(dialog->picturePath(), QStringLiteral("./pix/lamp.png"));
        QVERIFY(QFile::exists(QStringLiteral("pix/lamp.png")));
        QVERIFY(!dialog->pictureLabel()->pixmap(Qt::ReturnByValue).isNull());

        // Another lamp.png: the one in ./pix is used as it is.
        QDir().mkpath(QStringLiteral("other"));
        QVERIFY(drawnPicture(Qt::blue).save(QStringLiteral("other/lamp.png")));
        dialogs->files << dir->file(QStringLiteral("other/lamp.png"));
        QTest::mouseClick(dialog->selectImageButton(), Qt::LeftButton);
        QCOMPARE(QImage(QStringLiteral("pix/lamp.png")).pixelColor(0, 0), QColor(Qt::red));
        QCOMPARE(dialogs->messageTexts(), QStringList());

        QTest::mouseClick(dialog->selectImageButton(), Qt::LeftButton);  // nothing chosen
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("No image selected!"));
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Warning!"));
        QCOMPARE(dialog->picturePath(), QStringLiteral("./pix/lamp.png"));

        dialogs->files << dir->file(QStringLiteral("elsewhere/notes.png"));
        QTest::mouseClick(dialog->selectImageButton(), Qt::LeftButton);
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("Failed to load image into QLabel."));
        QCOMPARE(dialog->picturePath(), QStringLiteral("./pix/notes.png"));  // the path is kept

        // ./pix cannot be made when a file has its name.
        QVERIFY(QDir(QStringLiteral("pix")).removeRecursively());
        QFile("pix").open(QIODevice::WriteOnly);
        QTest::mouseClick(dialog->selectImageButton(), Qt::LeftButton);
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("Failed to create directory ./pix"));

        // Adding again starts without a picture.
        dialog->resetWithChannelRows(rows({1}));
        QCOMPARE(dialog->picturePath(), QString());
        QVERIFY(dialog->pictureLabel()->pixmap(Qt::ReturnByValue).isNull());
    }
};

QTEST_MAIN(TestFixtureDialogs)
#include "tst_fixturedialogs.moc"
