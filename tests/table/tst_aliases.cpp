// DMX channel aliases without the editor window: reading and writing the alias file,
// relabelling DMX cells, and the alias dialog.

#include "table/aliaseditdialog.h"
#include "table/aliases.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "tempworkdir.h"

#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

using namespace vl;
using vl::test::TempWorkDir;

namespace {

QStringList emptyAliases(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(QString());
    return list;
}

QByteArray manyLines(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "alias " + QByteArray::number(i) + "\n";
    return bytes;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

}  // namespace

class TestAliases : public QObject {
    Q_OBJECT

private slots:
    void parseAliasText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("aliases");
        QTest::newRow("LF") << QByteArray("Spot\nWash\n") << QStringList({"Spot", "Wash"});
        QTest::newRow("CR LF") << QByteArray("Spot\r\nWash\r\n") << QStringList({"Spot", "Wash"});
        QTest::newRow("CR only") << QByteArray("Spot\rWash\r") << QStringList({"Spot", "Wash"});
        QTest::newRow("mixed line ends and empty lines")
            << QByteArray("a\n\r\nb\r\rc") << QStringList({"a", "", "b", "", "c"});
        QTest::newRow("last line without line end") << QByteArray("Spot\nWash") << QStringList({"Spot", "Wash"});
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("one empty line") << QByteArray("\n") << QStringList({""});
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBFSpot\n") << QStringList({"Spot"});
        QTest::newRow("invalid UTF-8") << QByteArray("Sp\xFFot\n\xC3\n")
                                       << QStringList({QString::fromUtf8("Sp\xEF\xBF\xBDot"),
                                                       QString::fromUtf8("\xEF\xBF\xBD")});
        QTest::newRow("Chinese") << QByteArray("\xE7\x83\x9F\xE6\x9C\xBA\n")
                                 << QStringList({QString::fromUtf8("\xE7\x83\x9F\xE6\x9C\xBA")});
    }
    void parseAliasText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, aliases);
        QCOMPARE(vl::parseAliasText(bytes), aliases);
    }

    void hugeInputIsCut()
    {
        // A line of a megabyte keeps the first characters and does not swallow the next line.
        const QByteArray longLine = QByteArray(1024 * 1024, 'x') + "\nnext\n";
        QStringList aliases = vl::parseAliasText(longLine);
        QCOMPARE(aliases.size(), 2);
        QCOMPARE(aliases[0], QString(kMaxAliasLength, 'x'));
        QCOMPARE(aliases[1], QString("next"));

        // Characters of four bytes are never cut in half.
        const QByteArray clefs = QByteArray("\xF0\x9D\x84\x9E").repeated(kMaxAliasLength + 3);
        aliases = vl::parseAliasText(clefs);
        QCOMPARE(aliases.size(), 1);
        QVERIFY(aliases[0].size() <= kMaxAliasLength);
        QVERIFY(!aliases[0].contains(QChar(0xFFFD)));
        QVERIFY(!aliases[0].at(aliases[0].size() - 1).isHighSurrogate());

        aliases = vl::parseAliasText(manyLines(200000));
        QCOMPARE(aliases.size(), kMaxAliasLines);
        QCOMPARE(aliases.last(), QString("alias %1").arg(kMaxAliasLines - 1));
    }

    void readAliasFile()
    {
        TempWorkDir dir;
        // Missing: created empty.
        AliasFileResult read = vl::readAliasFile(aliasFilePath());
        QCOMPARE(read.status, AliasFileResult::Loaded);
        QVERIFY(read.aliases.isEmpty());
        QVERIFY(QFileInfo(dir.file("Aliases.txt")).isFile());
        QCOMPARE(QFileInfo(dir.file("Aliases.txt")).size(), 0);

        writeBytes(aliasFilePath(), manyLines(200000));
        read = vl::readAliasFile(aliasFilePath());
        QCOMPARE(read.status, AliasFileResult::Loaded);
        QCOMPARE(read.aliases.size(), kMaxAliasLines);
        QCOMPARE(read.aliases.at(4), QString("alias 4"));
    }

    void unreadableAliasFile()
    {
        TempWorkDir dir;
        QVERIFY(QDir().mkdir("Aliases.txt"));
        QCOMPARE(vl::readAliasFile(aliasFilePath()).status, AliasFileResult::CannotRead);
        QVERIFY(!vl::writeAliasFile(aliasFilePath(), {"Spot"}));
        QVERIFY(QFileInfo(dir.file("Aliases.txt")).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());  // nothing left behind
    }

    void uncreatableAliasFile()
    {
        TempWorkDir dir;
        QVERIFY(QDir().mkdir("gone"));
        QVERIFY(QDir::setCurrent("gone"));
        QVERIFY(QDir(dir.path()).rmdir("gone"));  // the working directory no longer exists
        QCOMPARE(vl::readAliasFile(aliasFilePath()).status, AliasFileResult::CannotCreate);
    }

    void writtenFileReadsBack()
    {
        TempWorkDir dir;
        QStringList aliases = emptyAliases(kDmxChannels);
        aliases[4] = "Spot";
        aliases[9] = "two\nlines";  // would shift every later channel
        aliases[1023] = QString::fromUtf8("\xE7\x83\x9F\xE6\x9C\xBA");
        QVERIFY(vl::writeAliasFile(aliasFilePath(), aliases));
        QFile f(aliasFilePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.count('\n'), kDmxChannels);
        QVERIFY(bytes.startsWith("\n\n\n\nSpot\n"));
        const QStringList back = vl::readAliasFile(aliasFilePath()).aliases;
        QCOMPARE(back.size(), kDmxChannels);
        QCOMPARE(back[4], QString("Spot"));
        QCOMPARE(back[9], QString("two lines"));
        QCOMPARE(back[1023], aliases[1023]);
    }

    void relabelDmxCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("relabelled");
        // Aliases: channel 5 "Spot", channel 6 "Wash", a list of 8 channels.
        QTest::newRow("alias added") << "5" << "5-Spot";
        QTest::newRow("alias kept") << "5-Spot" << "5-Spot";
        QTest::newRow("old alias replaced") << "5-Smoke" << "5-Spot";
        QTest::newRow("alias removed") << "7-Haze" << "7";
        QTest::newRow("number changed by hand") << "6" << "6-Wash";
        QTest::newRow("beyond the list") << "9" << "9";
        QTest::newRow("no number") << "Spot" << "Spot";
        QTest::newRow("dash without digits") << "x-y" << "x-y";
        QTest::newRow("channel 0") << "0" << "0";
        QTest::newRow("empty") << "" << "";
    }
    void relabelDmxCells()
    {
        QFETCH(QString, text);
        QFETCH(QString, relabelled);
        RuleModel rules;
        rules.setRowCount(1);
        rules.setText(0, ColDmx, text);
        vl::relabelDmxCells(rules, {"", "", "", "", "Spot", "Wash", "", ""});
        QCOMPARE(rules.text(0, ColDmx), relabelled);
    }

    void aliasDialog()
    {
        AliasEditDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("Edit DMX Channels Aliases"));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QAbstractItemModel *model = dialog.table()->model();
        QCOMPARE(model->rowCount(), kDmxChannels);
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString("Channel"));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QString("Alias"));
        QCOMPARE(model->index(1023, 0).data().toString(), QString("1024"));
        QVERIFY(!(model->flags(model->index(3, 0)) & Qt::ItemIsEditable));
        QVERIFY(model->flags(model->index(3, 1)) & Qt::ItemIsEditable);
        QVERIFY(dialog.table()->verticalHeader()->isHidden());
        QCOMPARE(dialog.getAliases(), emptyAliases(kDmxChannels));

        // Showing a longer list shows its first 1024 entries and leaves the list alone.
        QStringList longer = emptyAliases(1500);
        longer[0] = "Spot";
        longer[1499] = "extra";
        dialog.setAliasList(longer);
        dialog.setAliases(longer);
        QCOMPARE(model->index(0, 1).data().toString(), QString("Spot"));
        QCOMPARE(dialog.getAliases().size(), 1500);
        dialog.setAliases({});
        QCOMPARE(model->index(0, 1).data().toString(), QString());

        // OK: the list becomes the 1024 cells, line breaks turned into spaces.
        model->setData(model->index(4, 1), "Wash\nleft");
        model->setData(model->index(7, 1), QString(kMaxAliasLength + 50, 'y'));
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const QStringList list = dialog.getAliases();
        QCOMPARE(list.size(), kDmxChannels);
        QCOMPARE(list[0], QString());
        QCOMPARE(list[4], QString("Wash left"));
        QCOMPARE(list[7].size(), kMaxAliasLength);
    }
};

QTEST_MAIN(TestAliases)
#include "tst_aliases.moc"
