// The bytes the box stores and is sent: rule records, the table image, the checks Set
// makes before sending, and the settings commands.

#include "device/core/settingsframes.h"
#include "device/core/tableimage.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QtTest>

using namespace vl;

namespace {

// Ten cells from "DMX" to "Enable" after the sequence number.
QStringList rule(const QStringList &fromDmx, int row = 0) { return QStringList{QString::number(row + 1)} + fromDmx; }

void fillRow(RuleModel &m, int row, const QStringList &fromDmx)
{
    m.setText(row, ColSn, QString::number(row + 1));
    for (int c = 0; c < fromDmx.size(); ++c)
        m.setText(row, ColDmx + c, fromDmx[c]);
}

}  // namespace

class TestDeviceCodec : public QObject {
    Q_OBJECT

private slots:
    void encodeRecord_data()
    {
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QByteArray>("record");
        // clang-format off
        QTest::newRow("CC 7 on channel 1, DMX 1, enabled")
            << rule({"1", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"}) << QByteArray::fromHex("b007001400000000");
        QTest::newRow("note on ALL channels, DMX 1024, toggle, fixed 255")
            << rule({"1024", "Note", "60 / C4", "ALL", "255", "OFF", "OFF", "ON", "OFF"})
            << QByteArray::fromHex("903cff3bff000000");
        QTest::newRow("after-touch ch 16, aliased DMX 513, fade out before fade in")
            << rule({"513-Front wash", "AT", "127 / G9", "16", "OFF", "5", "50", "OFF", "ON"})
            << QByteArray::fromHex("af7f001600320500");
        QTest::newRow("empty Enable is sent as disabled")
            << rule({"2", "CC", "1", "2", "OFF", "OFF", "OFF", "OFF", ""}) << QByteArray::fromHex("b101011000000000");
        QTest::newRow("empty Toggle makes an empty record")
            << rule({"1", "CC", "7", "1", "OFF", "OFF", "OFF", "", "ON"}) << QByteArray(8, '\0');
        QTest::newRow("empty DMX makes an empty record")
            << rule({"", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"}) << QByteArray(8, '\0');
        QTest::newRow("row without cells") << QStringList{"5"} << QByteArray(8, '\0');
        // clang-format on
    }
    void encodeRecord()
    {
        QFETCH(QStringList, cells);
        QFETCH(QByteArray, record);
        QCOMPARE(encodeRuleRecord(cells).toHex(' '), record.toHex(' '));
    }

    void decodeRecord_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("cnum");
        QTest::addColumn<QStringList>("cells");
        // clang-format off
        QTest::newRow("CC rule") << QByteArray::fromHex("b007001400000000") << 2
                                 << rule({"1", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"});
        QTest::newRow("note under C3 naming") << QByteArray::fromHex("903cff3bff000000") << 1
                                              << rule({"1024", "Note", "60 / C3", "ALL", "255", "OFF", "OFF", "ON",
                                                       "OFF"});
        QTest::newRow("fades come back in column order")
            << QByteArray::fromHex("af7f001600320500") << 2
            << rule({"513", "AT", "127 / G9", "16", "OFF", "5", "50", "OFF", "ON"});
        QTest::newRow("bit 10 is Enable, not part of the channel")
            << QByteArray::fromHex("b000051400000000") << 2
            << rule({"6", "CC", "0", "1", "OFF", "OFF", "OFF", "OFF", "ON"});
        QTest::newRow("unknown status shows a space and the bare number")
            << QByteArray::fromHex("1040001000000000") << 2
            << rule({"1", " ", "64", "1", "OFF", "OFF", "OFF", "OFF", "OFF"});
        QTest::newRow("all-zero record is only its number") << QByteArray(8, '\0') << 2 << QStringList{"1"};
        QTest::newRow("bit 12 clear, other bytes set") << QByteArray::fromHex("b0070f0400000000") << 2
                                                       << QStringList{"1"};
        QTest::newRow("short group") << QByteArray::fromHex("b0070014000000") << 2 << QStringList();
        QTest::newRow("long group") << QByteArray::fromHex("b00700140000000000") << 2 << QStringList();
        // clang-format on
    }
    void decodeRecord()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, cnum);
        QFETCH(QStringList, cells);
        QCOMPARE(decodeRuleRecord(record, 0, cnum), cells);
    }

    void imageLayout()
    {
        RuleModel m;
        m.setRowCount(kRuleRows);
        fillRow(m, 0, {"1", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"});
        fillRow(m, 1, {"1024", "Note", "60 / C4", "ALL", "255", "OFF", "OFF", "ON", "OFF"});
        fillRow(m, 3071, {"513-Front", "AT", "127 / G9", "16", "OFF", "5", "50", "OFF", "ON"});

        const QByteArray image = encodeTableImage(m);
        QCOMPARE(image.size(), 24844);
        QCOMPARE(image.left(17), QByteArray("download request") + '\0');
        QCOMPARE(image.mid(19, 237), QByteArray(237, '\0'));
        QCOMPARE(image.mid(256, 8).toHex(), QByteArray("b007001400000000"));
        QCOMPARE(image.mid(264, 8).toHex(), QByteArray("903cff3bff000000"));
        QCOMPARE(image.mid(272, 8 * 3069), QByteArray(8 * 3069, '\0'));  // empty rows
        QCOMPARE(image.mid(256 + 8 * 3071, 8).toHex(), QByteArray("af7f001600320500"));
        QCOMPARE(image.right(12), QByteArray("end of data") + '\0');

        // The empty rows add nothing: the checksum is the sum of the three records.
        const int sum = 0xb0 + 0x07 + 0x14 + 0x90 + 0x3c + 0xff + 0x3b + 0xff + 0xaf + 0x7f + 0x16 + 0x32 + 0x05;
        QCOMPARE(quint8(image[17]) | (quint8(image[18]) << 8), sum);
        QCOMPARE(recordChecksum(image.mid(256, kRecordAreaSize)), quint16(sum));
    }

    void checksumWrapsAt16Bits()
    {
        QCOMPARE(recordChecksum(QByteArray(kRecordAreaSize, '\xff')), quint16((255 * 24576) % 65536));
        const QByteArray image = buildTableImage(QByteArray(kRecordAreaSize, '\xff'));
        QCOMPARE(quint8(image[17]) | (quint8(image[18]) << 8), (255 * 24576) % 65536);
    }

    // What Set sends must read back as the table the user sees.
    void roundTrip()
    {
        RuleModel m;
        m.setRowCount(kRuleRows);
        const QStringList statuses = {"Note", "AT", "CC"};
        for (int r = 0; r < kRuleRows; r += 7) {
            const QString sta = statuses[r % 3];
            const int ctl = r % 128;
            fillRow(m, r,
                    {QString::number(r % 1024 + 1), sta,
                     sta == "CC" ? QString::number(ctl) : QString("%1 / %2").arg(ctl).arg(NoteNamesForTest(ctl)),
                     r % 17 ? QString::number(r % 16 + 1) : "ALL", r % 5 ? QString::number(r % 255 + 1) : "OFF",
                     r % 3 ? QString::number(r % 50 + 1) : "OFF", r % 4 ? QString::number(r % 49 + 1) : "OFF",
                     r % 2 ? "ON" : "OFF", r % 6 ? "ON" : "OFF"});
        }
        const QByteArray image = encodeTableImage(m);
        const QByteArrayList groups = splitRecords(image.mid(256, kRecordAreaSize));
        QVERIFY(isCompleteUpload(groups));
        for (int r = 0; r < kRuleRows; ++r) {
            const QStringList expected = r % 7 ? QStringList{QString::number(r + 1)} : ruleRowTexts(m, r);
            QCOMPARE(decodeRuleRecord(groups[r], r, 2), expected);
        }
    }

    void validTexts_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        const struct {
            int column;
            const char *text;
            bool valid;
        } cases[] = {
            {ColDmx, "1", true},
            {ColDmx, "1024", true},
            {ColDmx, "0", false},
            {ColDmx, "1025", false},
            {ColDmx, "12-Front", true},
            {ColDmx, "12-", true},
            {ColDmx, "-12", false},
            {ColDmx, "x", false},
            {ColDmx, " 12", false},
            {ColDmx, "99999999999", false},
            {ColSta, "Note", true},
            {ColSta, "AT", true},
            {ColSta, "CC", true},
            {ColSta, "note", false},
            {ColSta, " ", false},
            {ColCtl, "0", true},
            {ColCtl, "127", true},
            {ColCtl, "128", false},
            {ColCtl, "300", false},
            {ColCtl, "60 / C4", true},
            {ColCtl, "127 / G9", true},
            {ColCtl, "60 / ", false},
            {ColCtl, "1234", false},
            {ColCtl, "200 / X", false},
            {ColCtl, " / 60 / C4", false},
            {ColCh, "ALL", true},
            {ColCh, "1", true},
            {ColCh, "16", true},
            {ColCh, "0", false},
            {ColCh, "17", false},
            {ColFix, "OFF", true},
            {ColFix, "1", true},
            {ColFix, "255", true},
            {ColFix, "0", false},
            {ColFix, "256", false},
            {ColFix, "off", false},
            {ColFadeIn, "50", true},
            {ColFadeIn, "51", false},
            {ColFadeOut, "OFF", true},
            {ColFadeOut, "0", false},
            {ColToggle, "ON", true},
            {ColToggle, "OFF", true},
            {ColToggle, "yes", false},
            {ColEnable, "", true},
            {ColEnable, "ON", true},
            {ColEnable, "on", false},
        };
        for (const auto &c : cases)
            // clang-format off
            QTest::addRow("%s %s", qPrintable(ruleColumnTitle(c.column)), c.text)
                << c.column << QString::fromUtf8(c.text) << c.valid;
        // clang-format on
    }
    void validTexts()
    {
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(isValidRuleText(column, text), valid);
    }

    void firstInvalidRule()
    {
        RuleModel m;
        m.setRowCount(kRuleRows);
        const QStringList good = {"1", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"};
        for (int r = 0; r < 20; ++r)
            fillRow(m, r, good);
        QVERIFY(!findInvalidRule(m).found());

        // Rows that are not complete are never sent, whatever they hold.
        fillRow(m, 3, {"5000", "CC", "7", "1", "OFF", "OFF", "OFF", "", "ON"});
        QVERIFY(!findInvalidRule(m).found());

        m.setText(9, ColDmx, "1025");
        m.setText(6, ColFix, "300");
        m.setText(6, ColCtl, "200");
        const RuleProblem p = findInvalidRule(m);
        QVERIFY(p.found());
        QCOMPARE(p.row, 6);
        QCOMPARE(p.column, int(ColCtl));
        QCOMPARE(p.text, QString("200"));
    }

    void uploadCompleteness_data()
    {
        QTest::addColumn<QByteArrayList>("groups");
        QTest::addColumn<bool>("complete");
        const QByteArrayList full = splitRecords(QByteArray(kRecordAreaSize, '\0'));
        // clang-format off
        QTest::newRow("3072 records") << full << true;
        QTest::newRow("3071 records") << full.mid(1) << false;
        QTest::newRow("3073 records") << (full + QByteArrayList{QByteArray(8, '\0')}) << false;
        QTest::newRow("short last group") << splitRecords(QByteArray(kRecordAreaSize - 3, '\0')) << false;
        QTest::newRow("nothing") << QByteArrayList() << false;
        // clang-format on
    }
    void uploadCompleteness()
    {
        QFETCH(QByteArrayList, groups);
        QFETCH(bool, complete);
        QCOMPARE(isCompleteUpload(groups), complete);
    }

    void settingsPayloads_data()
    {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("payload");
        // clang-format off
        QTest::newRow("break time 1000 us") << 1 << 1000 << QByteArray::fromHex("000100eb03e8");
        QTest::newRow("mark after break 50 us") << 2 << 50 << QByteArray::fromHex("000200320032");
        QTest::newRow("coefficient 2.01") << 3 << 2 << QByteArray::fromHex("000300020002");
        QTest::newRow("sleep 60 s") << 5 << 6 << QByteArray::fromHex("000500060006");
        QTest::newRow("check value carries") << 1 << 0xFFFF << QByteArray::fromHex("000101feffff");
        // clang-format on
    }
    void settingsPayloads()
    {
        QFETCH(int, setting);
        QFETCH(int, value);
        QFETCH(QByteArray, payload);
        const QList<PortWrite> writes = settingsCommand(DeviceSetting(setting), quint16(value));
        QCOMPARE(writes.size(), 3);
        QCOMPARE(writes[0].bytes, QByteArray("settingdata"));
        QCOMPARE(writes[1].bytes.toHex(' '), payload.toHex(' '));
        QCOMPARE(writes[2].bytes, QByteArray("setting end"));
        QCOMPARE(QList<bool>({writes[0].flush, writes[1].flush, writes[2].flush}), QList<bool>({false, true, true}));
    }

    void factoryReset()
    {
        const QList<PortWrite> writes = factoryResetCommand();
        QCOMPARE(writes.size(), 2);
        QCOMPARE(writes[0].bytes, QByteArray("settingdata") + QByteArray::fromHex("000400010001"));
        QVERIFY(writes[0].flush);
        QCOMPARE(writes[1].bytes, QByteArray("setting end"));
        QVERIFY(!writes[1].flush);
    }

    void settingChoices()
    {
        QCOMPARE(breakTimeChoices().size(), 46);
        QCOMPARE(breakTimeChoices().first() + "," + breakTimeChoices()[1] + "," + breakTimeChoices().last(),
                 QString("100,120,1000"));
        QCOMPARE(markAfterBreakChoices().size(), 24);
        QCOMPARE(markAfterBreakChoices().first() + "," + markAfterBreakChoices().last(), QString("50,510"));
        QCOMPARE(coefficientChoices(), QStringList({"1", "2", "2.01", "3", "4", "5"}));
        QCOMPARE(sleepTimeChoices(), QStringList({"10", "20", "30", "40", "50", "60"}));

        QCOMPARE(settingValueForChoice(DeviceSetting::BreakTime, 45), 1000);
        QCOMPARE(settingValueForChoice(DeviceSetting::MarkAfterBreak, 0), 50);
        QCOMPARE(settingValueForChoice(DeviceSetting::Coefficient, 2), 2);
        QCOMPARE(settingValueForChoice(DeviceSetting::SleepTime, 5), 6);
        QCOMPARE(settingValueForChoice(DeviceSetting::BreakTime, -1), -1);
        QCOMPARE(settingValueForChoice(DeviceSetting::Coefficient, 6), -1);

        const QList<double> numbers = {1.0, 2.0, 2.01, 3.0, 4.0, 5.0};
        for (int i = 0; i < numbers.size(); ++i)
            QCOMPARE(coefficientNumber(i), numbers[i]);
        QCOMPARE(coefficientNumber(-1), 0.0);
        QCOMPARE(coefficientNumber(6), 0.0);
    }

private:
    static QString NoteNamesForTest(int n)
    {
        static const char *const pitch[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
        return QString::fromLatin1(pitch[n % 12]) + QString::number(n / 12 - 1);  // naming "C4"
    }
};

QTEST_GUILESS_MAIN(TestDeviceCodec)
#include "tst_devicecodec.moc"
