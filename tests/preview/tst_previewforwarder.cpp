// How rule and remark changes reach the light preview, without the editor window: plain
// models, a preview that writes down what it is told, and a clock the test steps.

#include "common/core/scheduler.h"
#include "preview/core/previewforwarder.h"
#include "recordingpreview.h"

#include <QStandardItemModel>
#include <QtTest>

using namespace vl;
using vl::test::RecordingPreview;

namespace {

const QStringList kRefresh = {"rebuildRuleSnapshots", "refreshCcFaders",           "markNoteKeys",
                              "markAtKeys",           "refreshFixtureDmxChannels", "refreshDetailsPanel"};

}  // namespace

class TestPreviewForwarder : public QObject {
    Q_OBJECT

    std::unique_ptr<ManualScheduler> clock;
    std::unique_ptr<QStandardItemModel> rules;
    std::unique_ptr<QStandardItemModel> remarks;
    std::unique_ptr<PreviewForwarder> forwarder;
    RecordingPreview preview;
    double coefficient = 2.01;

    void set(int row, int column, const QString &text) { rules->setData(rules->index(row, column), text); }

private slots:
    void init()
    {
        clock = std::make_unique<ManualScheduler>();
        installScheduler(clock.get());
        rules = std::make_unique<QStandardItemModel>(20, 10);
        remarks = std::make_unique<QStandardItemModel>(20, 1);
        forwarder = std::make_unique<PreviewForwarder>(rules.get(), remarks.get());
        forwarder->setSink(&preview);
        forwarder->setCoefficientSource([this] { return coefficient; });
        preview.calls.clear();
    }
    void cleanup()
    {
        forwarder.reset();
        installScheduler(nullptr);
    }

    // N edits within 200 ms: N cells passed on in order once the edits are done, one full
    // refresh 200 ms after the first edit, then the coefficient.
    void burstOfEdits_data()
    {
        QTest::addColumn<int>("edits");
        QTest::addColumn<int>("spacingMs");  // between two edits
        // clang-format off
        QTest::newRow("one") << 1 << 0;
        QTest::newRow("ten at once") << 10 << 0;
        QTest::newRow("ten, 19 ms apart") << 10 << 19;
        // clang-format on
    }
    void burstOfEdits()
    {
        QFETCH(int, edits);
        QFETCH(int, spacingMs);
        QStringList cells;
        for (int i = 0; i < edits; ++i) {
            set(i, 1, QString::number(100 + i));
            cells << QStringLiteral("ruleCellChanged %1 1 %2").arg(i).arg(100 + i);
            QVERIFY(forwarder->refreshPending());
            clock->advance(spacingMs);
        }
        QCoreApplication::processEvents();
        QCOMPARE(preview.calls, cells);

        clock->advance(199 - spacingMs * edits);
        QVERIFY(forwarder->refreshPending());
        QCOMPARE(preview.calls.size(), edits);
        clock->advance(1);
        QVERIFY(!forwarder->refreshPending());
        QCOMPARE(preview.calls.mid(edits), kRefresh);
        QCoreApplication::processEvents();  // the coefficient follows the refresh
        QCOMPARE(preview.calls.mid(edits + kRefresh.size()), QStringList({"setCoefficient 2.01"}));

        // The next edit starts a new countdown.
        preview.calls.clear();
        set(0, 2, "CC");
        QVERIFY(forwarder->refreshPending());
        clock->advance(200);
        QCoreApplication::processEvents();
        QCOMPARE(preview.count("rebuildRuleSnapshots"), 1);
        QCOMPARE(preview.count("ruleCellChanged 0 2 CC"), 1);
    }

    // A cleared cell is not passed on, but the preview still refreshes.
    void clearedCellOnlyRefreshes()
    {
        set(3, 5, "OFF");
        clock->advance(200);
        QCoreApplication::processEvents();
        preview.calls.clear();
        set(3, 5, QString());
        QVERIFY(forwarder->refreshPending());
        clock->advance(200);
        QCoreApplication::processEvents();
        QCOMPARE(preview.calls, kRefresh + QStringList{"setCoefficient 2.01"});
    }

    // A change of a range names its bottom-right cell with the top-left cell's text.
    void rangeChange()
    {
        set(1, 1, "7");
        set(4, 3, "60");
        QCoreApplication::processEvents();
        preview.calls.clear();
        emit rules->dataChanged(rules->index(1, 1), rules->index(4, 3));
        QCoreApplication::processEvents();
        QCOMPARE(preview.calls, QStringList({"ruleCellChanged 4 3 7"}));
    }

    // Cells queued before a preview is attached reach the one attached meanwhile; without
    // a preview nothing is told, and the countdown still runs.
    void previewAttachedLater()
    {
        forwarder->setSink(nullptr);
        set(0, 1, "5");
        forwarder->setSink(&preview);
        QCoreApplication::processEvents();
        QCOMPARE(preview.calls, QStringList({"ruleCellChanged 0 1 5"}));

        forwarder->setSink(nullptr);
        preview.calls.clear();
        clock->advance(200);
        QVERIFY(!forwarder->refreshPending());
        set(0, 1, "6");
        QCoreApplication::processEvents();
        clock->advance(200);
        QCoreApplication::processEvents();
        QVERIFY(preview.calls.isEmpty());
    }

    void remarkEdits_data()
    {
        QTest::addColumn<bool>("forwarded");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("calls");
        // clang-format off
        QTest::newRow("on") << true << "smoke" << QStringList({"ruleRemarkChanged 3 smoke"});
        QTest::newRow("off") << false << "smoke" << QStringList();
        QTest::newRow("emptied") << true << "" << QStringList();
        // clang-format on
    }
    void remarkEdits()
    {
        QFETCH(bool, forwarded);
        QFETCH(QString, text);
        QFETCH(QStringList, calls);
        remarks->setData(remarks->index(3, 0), "old");
        preview.calls.clear();
        forwarder->setRemarksForwarded(forwarded);
        remarks->setData(remarks->index(3, 0), text);
        QCOMPARE(preview.calls, calls);         // at once, not queued
        QVERIFY(!forwarder->refreshPending());  // remarks start no refresh
    }

    void reload()
    {
        forwarder->reload();
        QCOMPARE(preview.calls, QStringList({"rebuildRuleSnapshots", "refreshCcFaders", "markNoteKeys", "markAtKeys",
                                             "setCoefficient 2.01"}));
        preview.calls.clear();
        coefficient = 0.0;
        forwarder->reload(true);
        QCOMPARE(preview.calls, QStringList({"rebuildRuleSnapshots", "refreshCcFaders", "showMaximized", "markNoteKeys",
                                             "markAtKeys", "setCoefficient 0", "show"}));
    }
};

QTEST_MAIN(TestPreviewForwarder)
#include "tst_previewforwarder.moc"
