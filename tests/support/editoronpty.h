#pragma once

// The editor window with a box played by the test on a pseudo-terminal: the test's end
// of the line is announced like a simulated box, so the window's port list shows it as
// "Nemora KVR-9000", and Connect opens it through the window's real QSerialPort. The
// window's timers run on a ManualScheduler that the test steps (port scans happen only
// when it says so). Header-only: tests that link the editor window include it.

#include "app/ui/widget.h"
#include "common/core/scheduler.h"
#include "common/core/simulatedbox.h"
#include "ptypeer.h"
#include "recordingpreview.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace vl::test {

class EditorOnPty {
public:
    EditorOnPty() { qputenv("VARILUME_SIMBOX_DIR", m_boxDir.filePath("boxes").toUtf8()); }
    ~EditorOnPty()
    {
        window.reset();
        announcement.reset();
        installScheduler(nullptr);
    }
    EditorOnPty(const EditorOnPty &) = delete;
    EditorOnPty &operator=(const EditorOnPty &) = delete;

    // Opens the pseudo-terminal, announces it as a box unless `withBox` is false, and
    // builds the window, whose first scan lists the box.
    void start(bool withBox = true)
    {
        QVERIFY2(peer.open(), qPrintable(peer.lastError()));
        if (withBox) {
            announcement = std::make_unique<SimulatedBoxAnnouncement>();
            QVERIFY(announcement->announce({peer.slavePath(), 0x1209, 0x4b39, "Nemora KVR-9000"}));
        }
        installScheduler(&clock);
        window = std::make_unique<Widget>(&preview);
    }

    // Connect, and the box's side of the handshake up to the settings request.
    void connectBox()
    {
        button("connectButton")->click();
        QVERIFY2(peer.expect("hello"), qPrintable(peer.lastError()));
        QCOMPARE(caption(), QString("Disconnect"));
        QVERIFY(peer.write("open the door"));
        QVERIFY2(peer.expect("setting request"), qPrintable(peer.lastError()));
    }

    // The box goes away: the line is hung up and the announcement withdrawn.
    void unplug()
    {
        peer.vanish();
        announcement.reset();
    }

    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(name); }
    QString caption() const { return button("connectButton")->text(); }
    QComboBox *portList() const { return window->findChild<QComboBox *>("comboBox_ComDevices"); }

    ManualScheduler clock;
    PtyPeer peer;
    RecordingPreview preview;
    std::unique_ptr<SimulatedBoxAnnouncement> announcement;
    std::unique_ptr<Widget> window;

private:
    QTemporaryDir m_boxDir;
};

}  // namespace vl::test
