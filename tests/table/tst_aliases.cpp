// DMX channel aliases without the editor window: the alias list, reading and writing the
// alias file, relabelling DMX cells, and the alias dialog.

#include "table/ui/aliaseditdialog.h"
#include "table/core/aliases.h"
#include "table/core/aliasstore.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "tempworkdir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

#include <sys/stat.h>

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
        // clang-format off
        QTest::newRow("LF") << QByteArray("Spot\nWash\n") << QStringList({"Spot", "Wash"});
        QTest::newRow("CR LF") << QByteArray("Spot\r\nWash\r\n") << QStringList({"Spot", "Wash"});
        QTest::newRow("CR only") << QByteArray("Spot\rWash\r") << QStringList({"Spot", "Wash"});
        QTest::newRow("mixed line ends and empty lines")
            << QByteArray("a\n\r\nb\r\rc") << QStringList({"a", "", "b", "", "c"});
        QTest::newRow("last line without line end") << QByteArray("Spot\nWash") << QStringList({"Spot", "Wash"});
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("one empty line") << QByteArray("\n") << QStringList({""});
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBFSpot\n") << QStringList({"Spot"});
        // Only the file's first three bytes can be a byte-order mark.
        const QString feff(QChar(0xFEFF));
        QTest::newRow("U+FEFF starting a later line") << QByteArray("Spot\n\xEF\xBB\xBFWash\n")
                                                      << QStringList({"Spot", feff + "Wash"});
        QTest::newRow("two U+FEFF starting a later line")
            << QByteArray("Spot\n\xEF\xBB\xBF\xEF\xBB\xBFWash\n") << QStringList({"Spot", feff + feff + "Wash"});
        QTest::newRow("U+FEFF after the byte-order mark") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFSpot\r")
                                                          << QStringList({feff + "Spot"});
        QTest::newRow("U+FEFF after CR LF") << QByteArray("\r\n\xEF\xBB\xBF") << QStringList({"", feff});
        QTest::newRow("invalid UTF-8") << QByteArray("Sp\xFFot\n\xC3\n")
                                       << QStringList({QString::fromUtf8("Sp\xEF\xBF\xBDot"),
                                                       QString::fromUtf8("\xEF\xBF\xBD")});
        QTest::newRow("Chinese") << QByteArray("\xE7\x83\x9F\xE6\x9C\xBA\n")
                                 << QStringList({QString::fromUtf8("\xE7\x83\x9F\xE6\x9C\xBA")});
        // clang-format on
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

        aliases = vl::parseAliasText(manyLines(2 * kMaxAliasLines));
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

        writeBytes(aliasFilePath(), manyLines(2 * kMaxAliasLines));
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
        aliases[20] = QChar(0xFEFF) + QString("Haze");
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
        QCOMPARE(back[20], aliases[20]);

        // A first alias that begins with U+FEFF reads back whole too: the file then starts
        // with a byte-order mark of its own. Without one it has none.
        aliases[0] = QChar(0xFEFF) + QString("Front");
        QVERIFY(vl::writeAliasFile(aliasFilePath(), aliases));
        QCOMPARE(vl::readAliasFile(aliasFilePath()).aliases, vl::parseAliasText(vl::aliasFileBytes(aliases)));
        QCOMPARE(vl::readAliasFile(aliasFilePath()).aliases.first(), aliases[0]);
        QVERIFY(vl::aliasFileBytes(aliases).startsWith("\xEF\xBB\xBF\xEF\xBB\xBF"));
        QVERIFY(vl::aliasFileBytes({"Spot"}).startsWith("Spot"));
    }

    // What stands under the file's name may be no regular file: a FIFO would block the
    // editor, a link to /dev/zero would keep it reading forever. Neither is read, and
    // neither is ever replaced or written through.
    void specialFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("named");
        // clang-format off
        QTest::newRow("a FIFO") << "fifo"
                                << "./Aliases.txt is a FIFO, not a regular file; no aliases were read from it";
        QTest::newRow("a link to a FIFO") << "link to fifo"
                                          << "./Aliases.txt is a FIFO, not a regular file; no aliases were read from it";
        QTest::newRow("a link to /dev/zero")
            << "link to zero" << "./Aliases.txt is a character device, not a regular file; no aliases were read from it";
        QTest::newRow("a directory")
            << "directory" << "./Aliases.txt is a directory, not a regular file; no aliases were read from it";
        // clang-format on
    }
    void specialFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, named);
        TempWorkDir dir;
        if (kind == "fifo") {
            QCOMPARE(::mkfifo("Aliases.txt", 0600), 0);
        } else if (kind == "link to fifo") {
            QCOMPARE(::mkfifo("fifo", 0600), 0);
            QVERIFY(QFile::link("fifo", "Aliases.txt"));
        } else if (kind == "link to zero") {
            QVERIFY(QFile::link("/dev/zero", "Aliases.txt"));
        } else {
            QVERIFY(QDir().mkdir("Aliases.txt"));
        }
        QElapsedTimer took;
        took.start();
        QTest::ignoreMessage(QtWarningMsg, qPrintable(named));
        const AliasFileResult read = vl::readAliasFile(aliasFilePath());
        QCOMPARE(read.status, AliasFileResult::CannotRead);
        QCOMPARE(read.ignored, named);
        QVERIFY(read.aliases.isEmpty());
        QVERIFY(took.elapsed() < 5000);

        if (kind == "link to zero")
            return;  // never write towards a device, not even to see it refused
        QTest::ignoreMessage(QtWarningMsg, "./Aliases.txt is not a regular file; the aliases were not written to it");
        QVERIFY(!vl::writeAliasFile(aliasFilePath(), {"Spot"}));
        struct stat st {};
        QCOMPARE(::stat("Aliases.txt", &st), 0);
        QCOMPARE(kind == "directory", S_ISDIR(st.st_mode));
        QCOMPARE(kind != "directory", S_ISFIFO(st.st_mode));
        QCOMPARE(QFileInfo("Aliases.txt").isSymLink(), kind == "link to fifo");
    }

    // A file far larger than any alias file: only its first kMaxAliasFileBytes are read,
    // and the log says so.
    void oversizedFile()
    {
        TempWorkDir dir;
        QFile f(aliasFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Spot\nWash\n");
        QVERIFY(f.resize(kMaxAliasFileBytes + 1));  // the rest reads as zero bytes, no line end: one more, empty alias
        f.close();
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QString("./Aliases.txt is larger than %1 bytes; only its first "
                                                              "%1 bytes were read")
                                                          .arg(kMaxAliasFileBytes)));
        const AliasFileResult read = vl::readAliasFile(aliasFilePath());
        QCOMPARE(read.status, AliasFileResult::Loaded);
        QCOMPARE(read.aliases.size(), 3);
        QCOMPARE(read.aliases.mid(0, 2), QStringList({"Spot", "Wash"}));
        QCOMPARE(read.aliases[2], QString());
        QVERIFY(!read.ignored.isEmpty());

        QVERIFY(f.resize(kMaxAliasFileBytes));  // exactly the bound: all of it, nothing to say
        const AliasFileResult whole = vl::readAliasFile(aliasFilePath());
        QCOMPARE(whole.aliases.size(), 3);
        QVERIFY(whole.ignored.isEmpty());
    }

    // Every change of the list passes through the store and is signalled with the list
    // before and after it, which is all an undo step needs.
    void aliasStore()
    {
        AliasStore store;
        QCOMPARE(store.aliases(), emptyAliases(kDmxChannels));
        QSignalSpy changed(&store, &AliasStore::aliasesChanged);

        QStringList edited = emptyAliases(kDmxChannels);
        edited[4] = "Spot";
        edited[5] = "two\nlines";
        store.setAliases(edited);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toStringList(), emptyAliases(kDmxChannels));
        QCOMPARE(changed[0][1].toStringList(), store.aliases());
        QCOMPARE(store.alias(5), QString("Spot"));
        QCOMPARE(store.alias(6), QString("two lines"));  // stored as an alias may be stored
        QCOMPARE(store.alias(0), QString());
        QCOMPARE(store.alias(1025), QString());

        store.setAliases(store.aliases());  // no change, no signal
        QCOMPARE(changed.size(), 1);

        const QStringList before = changed[0][0].toStringList();
        const QStringList after = changed[0][1].toStringList();
        store.setAliases(before);  // undo
        QCOMPARE(store.aliases(), emptyAliases(kDmxChannels));
        store.setAliases(after);  // redo
        QCOMPARE(store.alias(5), QString("Spot"));
        QCOMPARE(changed.size(), 3);

        store.setAliases({"Smoke"});  // a file of one line
        QCOMPARE(store.size(), 1);
        QCOMPARE(store.alias(2), QString());
        store.clear();
        QCOMPARE(store.aliases(), emptyAliases(kDmxChannels));
        QCOMPARE(changed.size(), 5);
    }

    void relabelDmxCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("relabelled");
        // Aliases: channel 5 "Spot", channel 6 "Wash", a list of 8 channels.
        // clang-format off
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
        // clang-format on
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
        AliasStore store;
        AliasEditDialog dialog(&store);
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
        store.setAliases(longer);
        dialog.setAliases(longer);
        QCOMPARE(model->index(0, 1).data().toString(), QString("Spot"));
        QCOMPARE(dialog.getAliases().size(), 1500);
        dialog.setAliases({});
        QCOMPARE(model->index(0, 1).data().toString(), QString());

        // OK: the list becomes the 1024 cells, line breaks turned into spaces.
        model->setData(model->index(4, 1), "Wash\nleft");
        model->setData(model->index(7, 1), QString(kMaxAliasLength + 50, 'y'));
        QSignalSpy changed(&store, &AliasStore::aliasesChanged);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(store.aliases(), dialog.getAliases());
        const QStringList list = dialog.getAliases();
        QCOMPARE(list.size(), kDmxChannels);
        QCOMPARE(list[0], QString());
        QCOMPARE(list[4], QString("Wash left"));
        QCOMPARE(list[7].size(), kMaxAliasLength);
    }
};

QTEST_MAIN(TestAliases)
#include "tst_aliases.moc"
