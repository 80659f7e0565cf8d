// The editor and its light preview window: "test" and Emulator → "Open" show it maximized
// with the current coefficient and freshly marked panels, "Update" reloads it unseen, the
// naming of middle C relabels its keys, a finished read reloads it under "Auto-Updates",
// and closing the editor closes it.

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "device/ui/settingsdialogs.h"
#include "midi/ui/keyboardwidget.h"
#include "midi/ui/midikeybutton.h"
#include "preview/core/fixturedetailsmodel.h"
#include "preview/ui/lightform.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/tableviews.h"
#include "windowtest.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QtTest>

using namespace vl;
using namespace vl::test;

class TestPreviewWindow : public WindowTest {
    Q_OBJECT

public:
    TestPreviewWindow() { useManualClock(); }

private:
    static void setRule(RuleModel &m, int row, const QStringList &cells)
    {
        if (m.rowCount() <= row)
            m.setRowCount(row + 1);
        m.setText(row, ColSn, QString::number(row + 1));
        for (int c = 0; c < cells.size(); ++c)
            m.setText(row, ColDmx + c, cells.at(c));
    }
    static bool faderMovable(light_Form *form, int controller)
    {
        const CcFader &f = form->ccFaders().at(controller);
        return !f.slider->isHidden() && f.slider->isEnabled();
    }

private slots:
    void cleanup()
    {
        // The preview's fixtures live in the process's registry.
        GlobalData &registry = GlobalData::instance();
        registry.clearFixtures();
        registry.clearSnMappings();
        registry.clearUsedSNs();
        WindowTest::cleanup();
    }

    void testAndOpenShowThePreview_data()
    {
        QTest::addColumn<bool>("fromMenu");
        // clang-format off
        QTest::newRow("test") << false;
        QTest::newRow("Emulator, Open") << true;
        // clang-format on
    }
    void testAndOpenShowThePreview()
    {
        QFETCH(bool, fromMenu);
        Widget w;
        light_Form *form = w.lightForm();
        QVERIFY(form);
        QVERIFY(!form->isVisible());
        setRule(*w.ruleModel(), 0, {"1", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"});
        w.cofDialog()->findChild<QComboBox *>()->setCurrentIndex(2);

        if (fromMenu)
            w.menuBarWindow()->actionOpen->trigger();
        else
            w.findChild<QPushButton *>(QStringLiteral("pushButton_4"))->click();
        QVERIFY(form->isVisible());
        QVERIFY(form->windowState() & Qt::WindowMaximized);
        QCOMPARE(form->previewCoefficient(), 2.01);
        QVERIFY(faderMovable(form, 7));

        // Closing the editor closes the preview (the new rule is not kept).
        dialogs->buttons << QMessageBox::Discard;
        w.close();
        QVERIFY(!form->isVisible());
    }

    void updateReloadsWithoutShowing()
    {
        Widget w;
        light_Form *form = w.lightForm();
        setRule(*w.ruleModel(), 0, {"1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"});
        w.menuBarWindow()->actionUpdate->trigger();
        QVERIFY(!form->isVisible());
        QVERIFY(form->noteKeyboard->keyForNote(60)->mapped);
    }

    void editsReachThePreviewWithinTheCountdown()
    {
        Widget w;
        light_Form *form = w.lightForm();
        setRule(*w.ruleModel(), 0, {"1", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"});
        QVERIFY(!faderMovable(form, 7));
        clock->advance(200);
        QVERIFY(faderMovable(form, 7));
    }

    void finishedReadReloadsUnderAutoUpdates_data()
    {
        QTest::addColumn<bool>("autoUpdates");
        // clang-format off
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
        // clang-format on
    }
    void finishedReadReloadsUnderAutoUpdates()
    {
        QFETCH(bool, autoUpdates);
        Widget w;
        light_Form *form = w.lightForm();
        w.menuBarWindow()->actionAuto_Updates->setChecked(autoUpdates);
        {
            // Rows as a read inserts them: no change of a cell reaches the countdown.
            const QSignalBlocker quiet(w.ruleModel());
            setRule(*w.ruleModel(), 0, {"1", "CC", "9", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"});
        }
        emit w.table_change();
        QCOMPARE(faderMovable(form, 9), autoUpdates);
    }

    // The fixtures of a project opened in the preview keep to their rule rows while the
    // table is edited in the editor: a DMX cell, a remark, an inserted row, deleted rows,
    // and the full refresh once a burst of edits has settled.
    void fixturesFollowTheRuleRows()
    {
        Widget w;
        light_Form *form = w.lightForm();
        RuleModel &rules = *w.ruleModel();
        for (int r = 0; r < 8; ++r)
            setRule(
                rules, r,
                {QString::number(11 + r), "Note", QString::number(60 + r), "ALL", "OFF", "OFF", "OFF", "OFF", "ON"});
        clock->advance(200);
        const QString path = dir->file("wash.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"([{"fixtureName": "Wash", "selectedChannels": [
            {"sn": "2", "dmxCH": 12, "remark": "Left"}, {"sn": "4", "dmxCH": 14}, {"sn": "6", "dmxCH": 16}]}])");
        file.close();
        dialogs->files << path;
        form->on_pushButton_4_clicked();
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("加载成功"));
        form->showFixtureDetails("Wash");
        const GlobalData &registry = form->core().registry();
        const auto channels = [&] {
            QStringList l;
            for (const FixtureChannel &c : registry.fixture("Wash").selectedChannels)
                l << QStringLiteral("%1:%2:%3").arg(c.sn).arg(c.dmxCH).arg(c.remark);
            return l;
        };
        const auto details = [&] {
            QStringList l;
            const FixtureDetailsModel &m = form->core().details();
            for (int r = 0; r < m.rowCount(); ++r)
                l << m.index(r, 0).data().toString() + "|" + m.index(r, 1).data().toString();
            return l;
        };
        QCOMPARE(channels(), QStringList({"2:12:Left", "4:14:", "6:16:"}));

        // A DMX cell and a remark edited in the editor.
        rules.setText(1, ColDmx, "21");
        w.remarkModel()->setText(3, 0, "Back");
        QCoreApplication::processEvents();
        QCOMPARE(channels(), QStringList({"2:21:Left", "4:14:Back", "6:16:"}));
        QCOMPARE(details(), QStringList({"Left|21", "Back|14", "|16"}));
        QCOMPARE(form->core().stage().records().first().channels.first().dmxCH, 21);

        // A row inserted above the first: every channel moves down with its rule.
        MyTableView *view = w.tableView();
        const auto selectRows = [&](int first, int last) {
            view->selectionModel()->select(QItemSelection(rules.index(first, ColSn), rules.index(last, ColSn)),
                                           QItemSelectionModel::ClearAndSelect);
        };
        selectRows(0, 0);
        view->insertRowsAbove();
        view->renumberSn();
        clock->advance(200);
        QCOMPARE(channels(), QStringList({"3:21:Left", "5:14:Back", "7:16:"}));
        QCOMPARE(form->core().stage().records().first().channels.first().sn, QStringLiteral("3"));

        // Rows 2 … 3 deleted and the rest moved up: the channel of row 2 goes, the later
        // ones move up by two.
        selectRows(2, 3);
        view->deleteRowsMoveUp();
        view->renumberSn();
        clock->advance(200);
        QCOMPARE(channels(), QStringList({"3:14:Back", "5:16:"}));
        QCOMPARE(form->core().stage().records().first().channels.size(), 2);
        QStringList used = registry.permanentlyUsedSNs().values();
        used.sort();
        QCOMPARE(used, QStringList({"3", "5"}));
        QCOMPARE(details(), QStringList({"Back|14", "|16"}));

        // An emptied DMX cell is not passed on by itself; the full refresh after the burst
        // catches it.
        rules.clearCell(4, ColDmx);
        QCoreApplication::processEvents();
        QCOMPARE(channels(), QStringList({"3:14:Back", "5:16:"}));
        clock->advance(200);
        QCOMPARE(channels(), QStringList({"3:14:Back", "5:0:"}));
        QCOMPARE(details(), QStringList({"Back|14", "|0"}));
    }

    void namingRelabelsTheKeys()
    {
        Widget w;
        light_Form *form = w.lightForm();
        QAction *c5 = nullptr;
        for (QAction *a : w.menuBarWindow()->namingGroup->actions())
            if (a == w.menuBarWindow()->actionC5)
                c5 = a;
        QVERIFY(c5);
        w.change_c345(c5);
        QCOMPARE(form->noteKeyboard->keyForNote(60)->label, QStringLiteral("C5"));
        QCOMPARE(form->atKeyboard->keyForNote(0)->label, QStringLiteral("C0"));
        QVERIFY(form->noteKeyboard->keyForNote(61)->label.isEmpty());
    }
};

QTEST_MAIN(TestPreviewWindow)
#include "tst_previewwindow.moc"
