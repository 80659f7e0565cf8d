#pragma once

// How a simulated box makes itself known to the editor's port list.
//
// A simulated box serves the box's protocol on a pseudo-terminal. While it runs it keeps
// one file "<name>.port" in the announcement directory and holds an exclusive lock on it:
//
//     port=/dev/pts/7
//     vendor=0483
//     product=5740
//     description=Nemora KVR-9000
//
// (ids in hexadecimal). The editor merges these entries with the USB devices the system
// reports. An entry whose lock nobody holds belongs to a box that is gone and is ignored,
// so a crashed simulator never leaves a phantom port behind.
//
// The directory is $VARILUME_SIMBOX_DIR, or "varilume-simbox" in $XDG_RUNTIME_DIR, or
// "varilume-simbox-<uid>" in the system's temporary directory when that is not set. Only a
// directory that belongs to the user and that nobody else may use (mode 0700) is used: the
// announcing side creates it so (and closes one of the user's that others may use), and
// the listing side ignores, with one warning, a directory whose owner or mode is wrong,
// and every file in it that is not the user's.
// Otherwise another user could announce a box of theirs and receive the user's tables.

#include "folderwatch.h"

#include <QList>
#include <QString>

namespace vl {

struct SimulatedBox {
    QString portName;  // the pseudo-terminal's path
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString description;  // what the box reports as its USB product description
};

QString simulatedBoxDirectory();

// Boxes that are running now, in the order of their file names.
QList<SimulatedBox> runningSimulatedBoxes();

// The running boxes as runningSimulatedBoxes() gives them, for lists refreshed many times a
// second: the announcement directory is read again only when an inotify watch on it has
// heard a box come, go or die (a dying simulator's announcement is closed), and at the
// look after that, as the dead simulator's lock may outlive the event by a moment.
class SimulatedBoxWatch {
public:
    SimulatedBoxWatch();
    // `readAgain` reads the directory whatever was heard.
    QList<SimulatedBox> boxes(bool readAgain = false);

private:
    FolderWatch m_folder;
    QList<SimulatedBox> m_boxes;
    bool m_lookAgain = true;
};

// Keeps one box announced for as long as the object lives.
class SimulatedBoxAnnouncement {
public:
    SimulatedBoxAnnouncement() = default;
    ~SimulatedBoxAnnouncement();
    SimulatedBoxAnnouncement(const SimulatedBoxAnnouncement &) = delete;
    SimulatedBoxAnnouncement &operator=(const SimulatedBoxAnnouncement &) = delete;

    // Writes and locks the announcement; returns false with a reason on failure.
    bool announce(const SimulatedBox &box, QString *error = nullptr);
    // Removes the announcement (also done by the destructor).
    void withdraw();
    QString filePath() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};

}  // namespace vl
