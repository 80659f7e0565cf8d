// varilume-cli and the editor agree: an image decoded by the tool gives the table texts
// the editor shows after reading that image from a box, and the workbook its Save then
// writes; the image the tool builds from a workbook the editor saved is, byte for byte,
// what the editor's Set sends after opening that workbook.

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "cli/tablefiles.h"
#include "clitestsupport.h"
#include "device/core/tableimage.h"
#include "editoronpty.h"
#include "trywait.h"
#include "windowtest.h"

#include <QAction>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>

using namespace vl;
using namespace vl::test;

namespace {

// Records as a box might hold them, including what the editor's encoder never writes:
// unknown status codes, a channel beside the "ALL" flag, DMX bits beyond 1024, set high
// bits and a non-zero last byte, and records that hold no rule.
QByteArray oddRecords()
{
    QByteArray records;
    for (int r = 0; r < kRuleRows; ++r) {
        QByteArray rec(8, '\0');
        const int kind = r % 9;
        if (kind == 8) {
            rec[0] = char(0x93);  // bit 12 clear: no rule, whatever else is there
            records += rec;
            continue;
        }
        rec[0] = char(((r % 16) << 4) | (r % 13));
        rec[1] = char(r % 256);
        const quint16 flags = quint16(0x1000 | ((r * 37) & 0x07FF) | (kind == 3 ? 0xC000 : 0) | (r % 2 ? 0x2000 : 0)
                                      | (r % 4 == 1 ? 0x0800 : 0));
        rec[2] = char(flags & 0xFF);
        rec[3] = char(flags >> 8);
        rec[4] = char(r % 7 ? 0 : r);
        rec[5] = char(r % 3 ? 0 : r % 60);
        rec[6] = char(r % 5 ? r % 51 : 0);
        rec[7] = char(kind == 5 ? 0xEE : 0);
        records += rec;
    }
    return records;
}

}  // namespace

class TestCliEditor : public WindowTest {
    Q_OBJECT

    std::unique_ptr<EditorOnPty> editor;
    Widget *w = nullptr;
    PtyPeer *peer = nullptr;

    void startEditorOnPeer()
    {
        editor = std::make_unique<EditorOnPty>();
        editor->start();
        editor->connectBox();
        w = editor->window.get();
        peer = &editor->peer;
    }

    void stopEditor()
    {
        editor.reset();
        w = nullptr;
        peer = nullptr;
    }

private slots:
    void decodeGivesWhatTheEditorReads_data()
    {
        QTest::addColumn<QByteArray>("records");
        RuleModel sample;
        fillSampleTable(sample);
        // clang-format off
        QTest::newRow("sample table") << encodeTableImage(sample).mid(kImageHeaderSize, kRecordAreaSize);
        QTest::newRow("odd records") << oddRecords();
        // clang-format on
    }
    void decodeGivesWhatTheEditorReads()
    {
        QFETCH(QByteArray, records);
        const QByteArray image = buildTableImage(records);
        QVERIFY(writeFileBytes(dir->file("box.bin"), image));

        startEditorOnPeer();
        QSignalSpy changed(w, &Widget::table_change);
        dialogs->buttons = {QMessageBox::Ok};
        w->findChild<QPushButton *>("pushButton")->click();
        QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
        QVERIFY(peer->writeInPieces(image, {64, 64, 64, 4096}));
        VL_TRY_COMPARE(changed.count(), 1);
        QCOMPARE(w->ruleModel()->rowCount(), kRuleRows);
        w->normalizeControllerTexts();  // the table as the window shows it: after its controller pass

        const CliResult text = runInProcess({"decode", dir->file("box.bin"), "-o", "-"});
        QCOMPARE(text.status, 0);
        QCOMPARE(QString::fromUtf8(text.out), QString::fromUtf8(cli::tableAsText(*w->ruleModel())));

        // The editor's Save after that Read, and decode to a workbook: the same workbook.
        dialogs->files << dir->file("editor.xlsx");
        w->menuBarWindow()->action3->trigger();
        QCOMPARE(dialogs->lastMessage().text, QString("Excel file saved successfully!"));
        QCOMPARE(runInProcess({"decode", dir->file("box.bin"), "-o", dir->file("cli.xlsx")}).status, 0);
        const WorkbookImport editor = readRuleWorkbook(dir->file("editor.xlsx"));
        const WorkbookImport tool = readRuleWorkbook(dir->file("cli.xlsx"));
        QCOMPARE(tool.status, WorkbookImport::Loaded);
        QCOMPARE(tool.headers, editor.headers);
        QCOMPARE(tool.rows, editor.rows);
        QCOMPARE(tool.remarkLines, editor.remarkLines);
        stopEditor();
    }

    void imageIsWhatTheEditorSets()
    {
        // A workbook the editor saved, with an alias on a DMX cell as the editor shows it.
        {
            Widget editor;
            fillSampleTable(*editor.ruleModel());
            editor.resetRemarkColumn(kRuleRows);  // as Connect does; the remarks go into the workbook too
            editor.ruleModel()->setText(4 * 5 + 1, ColDmx, "22-Front wash");
            dialogs->files << dir->file("show.xlsx");
            editor.menuBarWindow()->action3->trigger();
            QCOMPARE(dialogs->lastMessage().text, QString("Excel file saved successfully!"));
        }
        const CliResult image = runInProcess({"image", dir->file("show.xlsx"), "-o", "-"});
        QCOMPARE(image.status, 0);
        QCOMPARE(image.out.size(), kImageSize);

        // The editor opens that workbook and sets it.
        startEditorOnPeer();
        dialogs->files << dir->file("show.xlsx");
        w->menuBarWindow()->action1->trigger();
        QCOMPARE(dialogs->lastMessage().text, QString("Excel file loaded successfully!"));
        dialogs->buttons = {QMessageBox::Ok};
        w->findChild<QPushButton *>("pushButton_2")->click();
        const QByteArray sent = peer->take(kImageSize);
        QCOMPARE(sent.size(), kImageSize);
        QCOMPARE(image.out, sent);
        stopEditor();
    }
};

QTEST_MAIN(TestCliEditor)
#include "tst_cli_editor.moc"
