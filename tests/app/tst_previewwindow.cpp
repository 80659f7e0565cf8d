// The editor and its light preview window: "test" and Emulator → "Open" show it maximized
// with the current coefficient and freshly marked panels, "Update" reloads it unseen, the
// naming of middle C relabels its keys, a finished read reloads it under "Auto-Updates",
// and closing the editor closes it.

#include "app/mainwindow.h"
#include "app/widget.h"
#include "device/settingsdialogs.h"
#include "midi/keyboardwidget.h"
#include "midi/midikeybutton.h"
#include "preview/lightform.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "windowtest.h"

#include <QAction>
#include <QComboBox>
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
    void testAndOpenShowThePreview_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("test") << false;
        QTest::newRow("Emulator, Open") << true;
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

        // Closing the editor closes the preview.
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
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
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

    void namingRelabelsTheKeys()
    {
        Widget w;
        light_Form *form = w.lightForm();
        QAction *c5 = nullptr;
        for (QAction *a : w.menuBarWindow()->namingGroup->actions())
            if (a->text() == QLatin1String("C5"))
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
