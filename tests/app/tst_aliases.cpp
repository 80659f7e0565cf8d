// The editor window's DMX channel aliases: the alias file at start-up, the alias dialog
// from the menu, the labels of DMX cells and editors, and the steps around a read.

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "resources/resources.h"
#include "scripteddialogs.h"
#include "table/core/aliases.h"
#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/aliaseditdialog.h"
#include "table/ui/delegates.h"
#include "table/ui/tableviews.h"
#include "tempworkdir.h"
#include "windowtest.h"

#include <QAction>
#include <QComboBox>
#include <QFocusEvent>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace vl;
using vl::test::ScriptedDialogs;
using vl::test::TempWorkDir;

namespace {

QByteArray fileBytes()
{
    QFile f("Aliases.txt");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeAliases(const QByteArray &bytes)
{
    QFile f("Aliases.txt");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList fileLines() { return QString::fromUtf8(fileBytes()).split('\n'); }

// Runs the alias dialog as a user would: types into Alias cells, then presses OK or not.
std::function<int(QDialog *)> editAliases(QMap<int, QString> cells, bool ok)
{
    return [cells, ok](QDialog *d) {
        auto *dialog = qobject_cast<AliasEditDialog *>(d);
        if (!dialog)
            return int(QDialog::Rejected);
        QAbstractItemModel *model = dialog->table()->model();
        for (auto it = cells.begin(); it != cells.end(); ++it)
            model->setData(model->index(it.key() - 1, 1), it.value());
        if (ok)
            QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        else
            dialog->reject();
        return dialog->result();
    };
}

}  // namespace

class TestWindowAliases : public vl::test::WindowTest {
    Q_OBJECT

public:
    TestWindowAliases() { useManualClock(); }

private slots:

    void firstStartCreatesAnEmptyFile()
    {
        Widget w;
        QVERIFY(QFileInfo("Aliases.txt").isFile());
        QCOMPARE(fileBytes(), QByteArray());
        QVERIFY(dialogs->asked.isEmpty());
        QVERIFY(w.aliasLabelTimer()->isActive());
        QCOMPARE(w.aliasLabelTimer()->interval(), 100);
        QCOMPARE(w.tableView()->aliasSource(), w.aliasStore());
        QCOMPARE(w.aliasDialog()->store(), w.aliasStore());
        QVERIFY(w.aliasStore()->aliases().isEmpty());
        QVERIFY(!w.aliasDialog()->isVisible());
    }

    void aliasAddedAndRemoved()
    {
        Widget w;
        RuleModel *m = w.ruleModel();
        m->setRowCount(3);
        m->setText(0, ColDmx, "5");
        m->setText(1, ColDmx, "6");

        dialogs->onDialog = editAliases({{5, "Spot"}}, true);
        w.menuBarWindow()->actionDmx_Rname->trigger();
        QCOMPARE(dialogs->asked.size(), 1);
        QCOMPARE(dialogs->asked[0].title(), QString("Edit DMX Channels Aliases"));
        QCOMPARE(m->text(0, ColDmx), QString("5-Spot"));
        QCOMPARE(m->text(1, ColDmx), QString("6"));
        QStringList lines = fileLines();
        QCOMPARE(lines.size(), kDmxChannels + 1);  // 1024 lines, each ended
        QCOMPARE(lines[4], QString("Spot"));
        QVERIFY(w.aliasLabelTimer()->isActive());

        dialogs->onDialog = editAliases({{5, ""}}, true);
        w.changmarkname();
        QCOMPARE(m->text(0, ColDmx), QString("5"));
        lines = fileLines();
        QCOMPARE(lines.size(), kDmxChannels + 1);
        QCOMPARE(lines[4], QString());
    }

    void closingWithoutOkWritesNothing()
    {
        writeAliases("\n\n\n\nSpot\n");
        Widget w;
        const QByteArray before = fileBytes();
        dialogs->onDialog = editAliases({{5, "Other"}, {6, "Haze"}}, false);
        w.changmarkname();
        QCOMPARE(fileBytes(), before);
        QCOMPARE(w.aliasDialog()->getAliases().value(4), QString("Spot"));

        // The next opening shows the stored aliases, not what was typed.
        QString shown;
        dialogs->onDialog = [&shown](QDialog *d) {
            shown = qobject_cast<AliasEditDialog *>(d)->table()->model()->index(4, 1).data().toString();
            return int(QDialog::Rejected);
        };
        w.changmarkname();
        QCOMPARE(shown, QString("Spot"));
        QVERIFY(w.aliasLabelTimer()->isActive());
    }

    void openDmxEditorIsLabelled()
    {
        writeAliases("\n\n\n\nSpot\nWash\n");
        Widget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        RuleModel *m = w.ruleModel();
        m->setRowCount(3);
        m->setText(0, ColDmx, "5-Spot");
        const QModelIndex cell = m->index(0, ColDmx);
        w.tableView()->setCurrentIndex(cell);
        w.tableView()->edit(cell);
        auto *editor = qobject_cast<QComboBox *>(w.tableView()->indexWidget(cell));
        QVERIFY(editor);
        QCOMPARE(editor->currentIndex(), 4);
        clock->advance(100);  // the alias label timer's next tick
        QCOMPARE(editor->itemText(4), QString("5-Spot"));
        QCOMPARE(editor->itemText(5), QString("6-Wash"));
        QCOMPARE(editor->itemText(6), QString("7"));
        QCOMPARE(editor->currentIndex(), 4);
        QVERIFY(!w.aliasLabelTimer()->isActive());  // labelled, so it rests

        // Losing the focus wakes the timer for the next DMX editor.
        QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(editor, &out);
        QVERIFY(w.aliasLabelTimer()->isActive());
        // A pick puts it to rest again.
        emit editor->activated(5);
        QVERIFY(!w.aliasLabelTimer()->isActive());
    }

    void readDiscardsAliases()
    {
        writeAliases("\n\n\n\nSpot\n");
        Widget w;
        RuleModel *m = w.ruleModel();
        m->setRowCount(1);
        m->setText(0, ColDmx, "5-Spot");

        w.aliasKeeper()->beginRead();
        QVERIFY(!w.aliasLabelTimer()->isActive());
        QCOMPARE(w.aliasDialog()->getAliases(), QStringList(QVector<QString>(kDmxChannels).toList()));
        QCOMPARE(fileBytes(), QByteArray("\n\n\n\nSpot\n"));  // nothing written yet

        w.aliasKeeper()->finishRead();
        QVERIFY(w.aliasLabelTimer()->isActive());
        QCOMPARE(fileBytes(), QByteArray(kDmxChannels, '\n'));
        QCOMPARE(m->text(0, ColDmx), QString("5"));
        QVERIFY(dialogs->asked.isEmpty());
    }

    void badAliasFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("aliasCount");
        QTest::addColumn<QString>("fifth");
        // clang-format off
        QTest::newRow("a directory of that name") << "directory" << "Cannot open file for reading." << 1024 << "";
        QTest::newRow("a FIFO (would block)") << "fifo" << "Cannot open file for reading." << 1024 << "";
        QTest::newRow("a link to /dev/zero (never ends)") << "zero" << "Cannot open file for reading." << 1024 << "";
        QTest::newRow("working directory gone") << "gone" << "Cannot create file for writing." << 1024 << "";
        QTest::newRow("invalid UTF-8, CR only") << "garbled" << "" << 6 << QString::fromUtf8("Sp\xEF\xBF\xBDt");
        QTest::newRow("a line of a megabyte") << "long line" << "" << 6 << "fifth";
        QTest::newRow("200 000 lines") << "many lines" << "" << kMaxAliasLines << "fifth";
        // clang-format on
    }
    void badAliasFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(int, aliasCount);
        QFETCH(QString, fifth);
        // What was not read is also said once in the log.
        if (kind == "directory") {
            QVERIFY(QDir().mkdir("Aliases.txt"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^./Aliases.txt is a directory, not a regular file"));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo("Aliases.txt", 0600), 0);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^./Aliases.txt is a FIFO, not a regular file"));
        } else if (kind == "zero") {
            QVERIFY(QFile::link("/dev/zero", "Aliases.txt"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^./Aliases.txt is a character device, not a"));
        } else if (kind == "gone") {
            QVERIFY(QDir().mkdir("gone"));
            QVERIFY(QDir::setCurrent("gone"));
            QVERIFY(QDir(dir->path()).rmdir("gone"));
        } else if (kind == "garbled") {
            writeAliases("a\rb\rc\r\xFF\xFE\rSp\xC3t\r\r");
        } else if (kind == "long line") {
            writeAliases("a\r\n" + QByteArray(1024 * 1024, 'x') + "\r\nc\r\nd\r\nfifth\r\nf");
        } else {
            QByteArray bytes = "a\nb\nc\nd\nfifth\n";
            bytes += QByteArray("line\n").repeated(200000);
            writeAliases(bytes);
        }

        Widget w;
        if (message.isEmpty()) {
            QVERIFY(dialogs->asked.isEmpty());
        } else {
            QCOMPARE(dialogs->messageTexts(), QStringList({message}));
            const MessageRequest asked = dialogs->lastMessage();
            QCOMPARE(asked.kind, MessageKind::Critical);
            QCOMPARE(asked.title, QString("Error"));
            QCOMPARE(asked.parent, nullptr);
        }
        const QStringList aliases = w.aliasDialog()->getAliases();
        QCOMPARE(aliases.size(), aliasCount);
        QCOMPARE(aliases.value(4), fifth);
        QVERIFY(aliases.value(1).size() <= kMaxAliasLength);
        if (kind == "zero")
            return;  // a save would only be refused; no test writes towards a device

        // The editor goes on: the dialog still edits the aliases and the cells follow them.
        dialogs->clear();
        w.ruleModel()->setRowCount(1);
        w.ruleModel()->setText(0, ColDmx, "3");
        dialogs->onDialog = editAliases({{3, "Smoke"}}, true);
        if (kind == "directory" || kind == "fifo")  // never replaced by a file
            QTest::ignoreMessage(QtWarningMsg,
                                 "./Aliases.txt is not a regular file; the aliases were not written to it");
        w.changmarkname();
        QCOMPARE(w.ruleModel()->text(0, ColDmx), QString("3-Smoke"));
        if (kind == "fifo")
            QVERIFY(!QFileInfo("Aliases.txt").isFile());
        if (kind == "directory" || kind == "gone" || kind == "fifo")
            QCOMPARE(dialogs->messageTexts(), QStringList({"Cannot open file for writing."}));
        else
            QCOMPARE(fileLines().value(2), QString("Smoke"));
    }

    void tickRelabelsControllerEditor()
    {
        Widget w;  // C3 naming without a stored choice
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        RuleModel *m = w.ruleModel();
        m->setRowCount(2);
        m->setText(1, ColSta, "Note");
        m->setText(1, ColCtl, "60 / C3");
        const QModelIndex cell = m->index(1, ColCtl);
        w.tableView()->setCurrentIndex(cell);
        w.tableView()->edit(cell);
        auto *editor = qobject_cast<QComboBox *>(w.tableView()->indexWidget(cell));
        QVERIFY(editor);
        clock->advance(100);  // the window's tick
        QCOMPARE(editor->itemText(0), QString("0 / C-2"));
        QCOMPARE(editor->currentText(), QString("60 / C3"));
        m->setText(1, ColSta, "CC");
        clock->advance(100);
        QCOMPARE(editor->currentText(), QString("60"));
    }
};

QTEST_MAIN(TestWindowAliases)
#include "tst_aliases.moc"
