// The editor's software update as the user meets it: the check at start-up and the manual
// check, the offer, the download with its progress, Cancel, and the installer started,
// all against a local HTTP server. The "installer" is a shell script that leaves a marker.

#include "update/core/installer.h"
#include "update/ui/softwareupdater.h"
#include "update/ui/updatedialog.h"

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "httpserver.h"
#include "trywait.h"
#include "windowtest.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace vl;
using update::CheckKind;
using update::UpdateCheck;
using vl::test::HttpTestServer;

namespace {

const QByteArray kTextPath = "/download/Product/Varilume/Update/Varilume_UpdateWin.txt";

QByteArray sha256Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// Takes the URLs the program hands to the desktop.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

QByteArray installerPathFor(const QString &version)
{
    return "/download/Product/Varilume/Update/Varilume_V" + version.toUtf8() + ".AppImage";
}

}  // namespace

class TestUpdateDialog : public vl::test::WindowTest {
    Q_OBJECT

    std::unique_ptr<HttpTestServer> server;
    std::unique_ptr<QTemporaryDir> temp;  // the temporary location installers go to
    std::unique_ptr<QWidget> window;
    std::unique_ptr<SoftwareUpdater> updater;
    QString marker;

    update::UpdateSettings settings() const
    {
        update::UpdateSettings s;
        s.server = update::UpdateServer::fromText(server->url().toString());
        s.tempRoot = temp->path();
        return s;
    }

    void makeUpdater(const update::UpdateSettings &s) { updater = std::make_unique<SoftwareUpdater>(window.get(), s); }

    // An installer that only leaves the marker file.
    QByteArray script() const { return "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n"; }

    // Runs a check and waits until it has decided.
    UpdateDialog *check(CheckKind kind, const QString &current = "V4.0.1")
    {
        UpdateDialog *dialog = updater->check(kind, current);
        QSignalSpy checked(dialog->check(), &UpdateCheck::checked);
        if (!checked.wait(10000))
            qWarning("the check did not finish");
        return dialog;
    }

    // Files under the temporary location, at any depth.
    QStringList savedFiles() const
    {
        QStringList files;
        QDirIterator it(temp->path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }

private slots:
    void init()
    {
        WindowTest::init();
        server = std::make_unique<HttpTestServer>();
        QVERIFY(server->start());
        temp = std::make_unique<QTemporaryDir>();
        window = std::make_unique<QWidget>();
        marker = dir->file("installer-ran");
        makeUpdater(settings());
    }
    void cleanup()
    {
        updater.reset();
        window.reset();
        server.reset();
        temp.reset();
        WindowTest::cleanup();
    }

    void dialogAsBuilt()
    {
        server->serve(kTextPath, QByteArray());  // any answer; the dialog is looked at before it comes
        UpdateDialog *dialog = updater->manualCheck("V4.0.1");
        QCOMPARE(dialog->parentWidget(), window.get());
        QCOMPARE(dialog->windowTitle(), QString("Checking Update..."));
        QCOMPARE(dialog->size(), QSize(400, 200));
        QVERIFY(dialog->isModal());
        QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->label()->text(), QString("Checking update information..."));
        QCOMPARE(dialog->progressBar()->minimum(), 0);
        QCOMPARE(dialog->progressBar()->maximum(), 100);
        QCOMPARE(dialog->progressBar()->value(), 0);
        QVERIFY(dialog->progressBar()->isHidden());
        QCOMPARE(dialog->downloadButton()->text(), QString("Download"));
        QVERIFY(!dialog->downloadButton()->isEnabled());
        QCOMPARE(dialog->cancelButton()->text(), QString("Cancel"));
        QVERIFY(dialog->cancelButton()->isEnabled());
    }

    // Which versions each kind of check offers, and what it shows when it offers nothing.
    void offers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("startup");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<QString>("shown");  // label of a dialog shown without an offer
        QTest::addColumn<QString>("message");

        const QByteArray minor = "Varilume_V4.1.0\nUpdate content:\nFaster.";
        const QByteArray major = "Varilume_V5.0\nUpdate content:\nNew.";
        const QByteArray same = "Varilume_V4.0.1\nUpdate content:\nSame.";
        const QString upToDate = "The current version is up to date. No update is required.";
        const QString noVersion = "Update check finished, but no version info found.";
        // clang-format off
        QTest::newRow("minor, manual") << minor << false << true << "" << "";
        QTest::newRow("minor, start-up") << minor << true << false << "" << "";
        QTest::newRow("major, manual") << major << false << true << "" << "";
        QTest::newRow("major, start-up") << major << true << true << "" << "";
        QTest::newRow("equal, manual") << same << false << false << "" << upToDate;
        QTest::newRow("equal, start-up") << same << true << false << "" << "";
        QTest::newRow("leading blank line, manual") << "\n" + major << false << false << noVersion << "";
        QTest::newRow("leading blank line, start-up") << "\n" + major << true << false << "" << "";
        QTest::newRow("not a version, manual") << QByteArray("Varilume_V5.0beta\n") << false << false << noVersion << "";
        QTest::newRow("not a version, start-up") << QByteArray("Varilume_V5..0\n") << true << false << "" << "";
        // clang-format on
    }
    void offers()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, startup);
        QFETCH(bool, offered);
        QFETCH(QString, shown);
        QFETCH(QString, message);
        server->serve(kTextPath, text);

        QPointer<UpdateDialog> dialog = check(startup ? CheckKind::Startup : CheckKind::Manual);
        QVERIFY(dialog);
        QCOMPARE(dialog->isVisible(), offered || !shown.isEmpty());
        QCOMPARE(dialog->downloadButton()->isEnabled(), offered);
        if (offered) {
            QCOMPARE(dialog->windowTitle(), QString("Update Available"));
            QVERIFY(dialog->label()->text().startsWith(
                "The current version is: V4.0.1\nA new version is available: Varilume_V"));
        } else if (!shown.isEmpty()) {
            QCOMPARE(dialog->label()->text(), shown);
        } else {
            QTRY_VERIFY(!dialog);  // closed and gone
        }
        QCOMPARE(dialogs->messageTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty()) {
            QCOMPARE(dialogs->lastMessage().title, QString("Information"));
            QCOMPARE(dialogs->lastMessage().kind, MessageKind::Information);
        }
        QCOMPARE(server->requests(), QByteArrayList{kTextPath});
    }

    void offerText()
    {
        server->serve(kTextPath, "Varilume_V4.1.0 (May)\nUpdate content:  \n1. Faster.\n2. Safer.\n");
        UpdateDialog *dialog = check(CheckKind::Manual);
        QCOMPARE(dialog->label()->text(), QString("The current version is: V4.0.1\nA new version is available: "
                                                  "Varilume_V4.1.0\n\nUpdate Content:\n1. Faster.\n2. Safer.\n"));
        server->serve(kTextPath, "Varilume_V4.1.0\nno marker here\n");
        dialog = check(CheckKind::Manual, "v4.0.1");
        QCOMPARE(dialog->label()->text(), QString("The current version is: V4.0.1\nA new version is available: "
                                                  "Varilume_V4.1.0\n\nUpdate Content:\n"));
    }

    // Release notes of any length scroll inside the dialog, which stays on the screen with
    // its buttons; they are shown as the text they are, never as HTML.
    void longNotesScroll()
    {
        QByteArray notes;
        for (int i = 0; i < 5000; ++i)
            notes += "<b>Line " + QByteArray::number(i) + "</b> <img src=\"x.png\">\n";
        server->serve(kTextPath, "Varilume_V5.0\nUpdate content:\n" + notes);
        UpdateDialog *dialog = check(CheckKind::Manual);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->label()->textFormat(), Qt::PlainText);
        QVERIFY(dialog->label()->text().contains("<b>Line 4999</b>"));
        const QRect screen = dialog->screen()->availableGeometry();
        QVERIFY2(dialog->height() <= screen.height() && dialog->frameGeometry().height() <= 768,
                 qPrintable(QString::number(dialog->height())));
        QVERIFY(dialog->notesArea()->verticalScrollBar()->maximum() > 0);
        QVERIFY(dialog->downloadButton()->isVisible());
        QVERIFY(dialog->rect().contains(dialog->downloadButton()->geometry()));
        QVERIFY(dialog->rect().contains(dialog->cancelButton()->geometry()));
    }

    void failedCheck()
    {
        // Nothing at the address: the start-up check says nothing, the manual one says why.
        QPointer<UpdateDialog> silent = check(CheckKind::Startup);
        QTRY_VERIFY(!silent);
        UpdateDialog *dialog = check(CheckKind::Manual);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->label()->text().startsWith("Update file download failed: "));
        QVERIFY(!dialog->downloadButton()->isEnabled());
        QVERIFY(dialogs->asked.isEmpty());

        // A text far larger than any update text is refused the same way.
        HttpTestServer::Reply huge;
        huge.body = "Varilume_V5.0\n";
        huge.filler = qint64(64) << 20;
        huge.sendLength = false;
        server->serve(kTextPath, huge);
        dialog = check(CheckKind::Manual);
        QVERIFY(dialog->label()->text().contains("more than 1 MiB"));
        QVERIFY(!dialog->downloadButton()->isEnabled());
    }

    // The installer is saved into a new private folder, made executable and started.
    void downloadAndStart()
    {
        QByteArray text = "Varilume_V5.0\n";
        text += "SHA256: " + QCryptographicHash::hash(script(), QCryptographicHash::Sha256).toHex() + "\n";
        server->serve(kTextPath, text + "Update content:\nNew.");
        server->serve(installerPathFor("5.0"), script());
        // Someone else's file under the installer's name in the shared folder stays untouched.
        QFile planted(temp->filePath("5.0.AppImage"));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write("someone else's");
        planted.close();

        QPointer<UpdateDialog> dialog = check(CheckKind::Manual);
        QSignalSpy finished(dialog.data(), &QDialog::finished);
        dialog->downloadButton()->click();
        QCOMPARE(dialog->label()->text(), QString("Downloading update, please wait..."));
        QVERIFY(dialog->progressBar()->isVisible());
        QVERIFY(!dialog->downloadButton()->isEnabled());
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
        QTRY_VERIFY(QFileInfo::exists(marker));
        QVERIFY(dialogs->asked.isEmpty());

        // The installer, the mark that it was started, the planted file.
        const QStringList files = savedFiles();
        QCOMPARE(files.size(), 3);
        const QString installer = files.filter(QRegularExpression("varilume-update-[^/]*/5.0.AppImage$")).value(0);
        QVERIFY(!installer.isEmpty());
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(installer).path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QVERIFY(QFileInfo(installer).isExecutable());
        QVERIFY(planted.open(QIODevice::ReadOnly));
        QCOMPARE(planted.readAll(), QByteArray("someone else's"));

        // The next start removes the folder once the installer has ended; nothing else.
        QVERIFY(QFileInfo::exists(QFileInfo(installer).path()));
        const QString folder = QFileInfo(installer).path();
        VL_TRY_VERIFY((makeUpdater(settings()), !QFileInfo::exists(folder)));
        QVERIFY(QFileInfo::exists(temp->filePath("5.0.AppImage")));
    }

    // Without a checksum the installer is not started: the user is told and may look at it.
    void installerWithoutChecksumIsKept_data()
    {
        QTest::addColumn<bool>("show");
        // clang-format off
        QTest::newRow("shown") << true;
        QTest::newRow("not shown") << false;
        // clang-format on
    }
    void installerWithoutChecksumIsKept()
    {
        QFETCH(bool, show);
        server->serve(kTextPath, "Varilume_V5.0\nUpdate content:\nNew.");
        server->serve(installerPathFor("5.0"), script());
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler("file", &recorder, "open");
        dialogs->buttons << (show ? QMessageBox::Yes : QMessageBox::No);

        QPointer<UpdateDialog> dialog = check(CheckKind::Manual);
        QSignalSpy ended(dialog->check(), &UpdateCheck::downloadEnded);
        dialog->downloadButton()->click();
        QVERIFY(ended.wait(10000));
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(dialog->check()->state(), UpdateCheck::State::NotStarted);
        QCOMPARE(dialogs->messageTexts().size(), 1);
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Question);
        QCOMPARE(dialogs->lastMessage().text,
                 "The installer Varilume_V5.0.AppImage was downloaded but not started: the server announced no "
                 "checksum; not used.\n\nShow the file?");
        const QString kept = dialog->check()->keptFile();
        QVERIFY(kept.endsWith("/5.0.AppImage"));
        QVERIFY(QFileInfo(kept).isFile());
        QCOMPARE(recorder.urls, show ? QList<QUrl>{QUrl::fromLocalFile(QFileInfo(kept).path())} : QList<QUrl>());
        QVERIFY(dialog->isVisible());
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(marker));
        // A later start leaves a kept installer alone.
        makeUpdater(settings());
        QVERIFY(QFileInfo(kept).isFile());
    }

    void wrongChecksumNeverStarts()
    {
        server->serve(kTextPath, "Varilume_V5.0\nSHA256: " + QByteArray(64, 'a') + "\nUpdate content:\nNew.");
        server->serve(installerPathFor("5.0"), script());
        QPointer<UpdateDialog> dialog = check(CheckKind::Manual);
        QSignalSpy ended(dialog->check(), &UpdateCheck::downloadEnded);
        dialog->downloadButton()->click();
        QVERIFY(ended.wait(10000));
        QCOMPARE(dialog->check()->state(), UpdateCheck::State::NotStarted);
        QCOMPARE(dialogs->messageTexts().size(), 1);
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Warning);
        QVERIFY(dialogs->lastMessage().text.contains("does not match the checksum"));
        // The dialog stays with the reason until the user cancels it.
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->label()->text().contains("does not match the checksum"));
        QVERIFY(!dialog->downloadButton()->isEnabled());
        QVERIFY(savedFiles().isEmpty());
        dialog->cancelButton()->click();
        QTRY_VERIFY(!dialog);
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(marker));
    }

    // Cancel while the installer arrives: nothing is saved and nothing is started.
    void cancelDuringDownload()
    {
        server->serve(kTextPath, "Varilume_V5.0\nUpdate content:\nNew.");
        HttpTestServer::Reply installer;
        installer.body = script() + QByteArray(100000, '#');
        installer.holdAt = 50000;
        server->serve(installerPathFor("5.0"), installer);

        QPointer<UpdateDialog> dialog = check(CheckKind::Manual);
        QSignalSpy finished(dialog.data(), &QDialog::finished);
        dialog->downloadButton()->click();
        QTRY_COMPARE(dialog->progressBar()->value(), 50000 * 100 / installer.body.size());
        QVERIFY(!savedFiles().isEmpty());  // the part file, until Cancel
        dialog->cancelButton()->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
        QVERIFY(savedFiles().isEmpty());
        QCOMPARE(QDir(temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        server->release();
        QTest::qWait(300);
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(dialogs->asked.isEmpty());
        QTRY_VERIFY(!dialog);
    }

    void progressWithoutLength()
    {
        HttpTestServer::Reply installer;
        installer.body = script() + QByteArray(100000, '#');
        server->serve(kTextPath, "Varilume_V5.0\nSHA256: " + sha256Hex(installer.body) + "\nUpdate content:\nNew.");
        installer.sendLength = false;
        installer.holdAt = 50000;
        server->serve(installerPathFor("5.0"), installer);

        QPointer<UpdateDialog> dialog = check(CheckKind::Manual);
        QSignalSpy received(dialog->check(), &UpdateCheck::received);
        QSignalSpy finished(dialog.data(), &QDialog::finished);
        dialog->downloadButton()->click();
        QTRY_VERIFY(!received.isEmpty() && received.last().at(0).toLongLong() == 50000);
        QCOMPARE(received.last().at(1).toLongLong(), qint64(-1));
        QCOMPARE(dialog->progressBar()->value(), 0);
        server->release();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
        QTRY_VERIFY(QFileInfo::exists(marker));
    }

    // Downloads that fail close the dialog and say why; nothing is kept.
    void failedDownloads_data()
    {
        QTest::addColumn<bool>("oversized");
        // clang-format off
        QTest::newRow("missing installer") << false;
        QTest::newRow("oversized installer") << true;
        // clang-format on
    }
    void failedDownloads()
    {
        QFETCH(bool, oversized);
        update::UpdateSettings s = settings();
        s.installerLimit = 1 << 20;
        makeUpdater(s);
        server->serve(kTextPath, "Varilume_V5.0\nUpdate content:\nNew.");
        if (oversized) {
            HttpTestServer::Reply huge;
            huge.body = script();
            huge.filler = qint64(64) << 20;
            huge.sendLength = false;
            server->serve(installerPathFor("5.0"), huge);
        }
        QPointer<UpdateDialog> dialog = check(CheckKind::Manual);
        QSignalSpy finished(dialog.data(), &QDialog::finished);
        dialog->downloadButton()->click();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
        QCOMPARE(dialogs->messageTexts().size(), 1);
        QVERIFY(dialogs->lastMessage().text.startsWith("The update could not be downloaded: "));
        if (oversized)
            QVERIFY(dialogs->lastMessage().text.contains("more than 1 MiB"));
        QVERIFY(savedFiles().isEmpty());
        QVERIFY(server->bodyBytesSent() < (qint64(32) << 20));
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(marker));
    }

    // The editor window checks once it is up, and again from Help, "Check for Update".
    void editorWindowChecks()
    {
        qputenv("VARILUME_UPDATE_URL", server->url().toString().toUtf8());
        qunsetenv("VARILUME_NO_UPDATE_CHECK");
        server->serve(kTextPath, "Varilume_V5.0\nUpdate content:\nNew.");
        {
            Widget w;
            QTest::qWait(100);
            QVERIFY(server->requests().isEmpty());  // not before the window is up
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTRY_COMPARE(server->requests().size(), 1);
            QTRY_VERIFY(w.findChild<UpdateDialog *>() && w.findChild<UpdateDialog *>()->isVisible());
            auto *offer = w.findChild<UpdateDialog *>();
            QCOMPARE(offer->windowTitle(), QString("Update Available"));
            QVERIFY(offer->label()->text().startsWith("The current version is: V4.0.1\n"));
            offer->cancelButton()->click();
            QTRY_VERIFY(!w.findChild<UpdateDialog *>());

            server->serve(kTextPath, "Varilume_V4.0.2\nUpdate content:\nSmall.");
            w.menuBarWindow()->actioncheck_for_updates->trigger();
            QTRY_VERIFY(w.findChild<UpdateDialog *>() && w.findChild<UpdateDialog *>()->isVisible());
            auto *manual = w.findChild<UpdateDialog *>();
            QVERIFY(manual->label()->text().contains("Varilume_V4.0.2"));
            QCOMPARE(server->requests().size(), 2);

            // The editor closed while the installer arrives: the download ends, nothing is kept.
            HttpTestServer::Reply installer;
            installer.body = script() + QByteArray(100000, '#');
            installer.holdAt = 50000;
            server->serve(installerPathFor("4.0.2"), installer);
            qputenv("TMPDIR", temp->path().toUtf8());
            manual->downloadButton()->click();
            QTRY_VERIFY(manual->progressBar()->value() > 0);
            QCOMPARE(savedFiles().size(), 1);
        }
        qunsetenv("TMPDIR");
        QVERIFY(savedFiles().isEmpty());
        QCOMPARE(QDir(temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        server->release();
        // Switched off, the window built asks the server nothing.
        qputenv("VARILUME_NO_UPDATE_CHECK", "1");
        {
            Widget w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTest::qWait(300);
            QCOMPARE(server->requests().size(), 3);
            QVERIFY(!w.findChild<UpdateDialog *>());
        }
        qunsetenv("VARILUME_UPDATE_URL");
        QVERIFY(!QFileInfo::exists(marker));
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
