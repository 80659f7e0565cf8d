#pragma once

// Where a downloaded installer goes and how it is started. The file is written into a new
// private directory (mode 0700) below the temporary location, never into the shared
// temporary directory itself where another user could have placed a file or a link under
// the same name, and it is created exclusively, so nothing that exists is written through.
// It is written as "<name>.part" and gets its name only once complete and checked.
//
// Nothing is left behind: the directory is locked (flock) while the download runs, and
// the lock goes with the installer when it is started, so it is held exactly while
// someone works in the directory. A download interrupted by SIGINT, SIGTERM or SIGHUP
// removes its part file on the way out; what a crash leaves, and the directory of an
// installer that was started and has ended, sweepInstallerLeftovers() removes at the next
// start. A finished installer that was not started (no checksum announced) is kept for
// the user.

#include "downloadtarget.h"
#include "releasetext.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

namespace vl::update {

// The installer's name on the server and on disk for a version: "Varilume_V4.1.0.AppImage"
// and "4.1.0.AppImage" on Linux (".exe" on Windows).
QString installerServerName(const QString &version);
QString installerFileName(const QString &version);

class InstallerFile final : public DownloadTarget {
public:
    // `tempRoot` empty: the system's temporary location.
    explicit InstallerFile(const QString &fileName, const QString &tempRoot = {});
    // Removes whatever was not finished.
    ~InstallerFile() override;
    InstallerFile(const InstallerFile &) = delete;
    InstallerFile &operator=(const InstallerFile &) = delete;

    // Creates the private directory and the part file.
    bool open(QString *error) override;
    bool write(const QByteArray &piece, QString *error) override;
    // Refuses an empty file, one whose checksum differs from `announced` and one whose
    // checksum line cannot be read (all are removed); otherwise makes the file executable
    // and gives it its name. A file without an announced checksum is kept: the caller
    // does not start it.
    bool finish(const AnnouncedHash &announced, QString *error) override;
    // Removes the part file or the finished file, and the directory.
    void discard() override;

    QString directory() const { return m_dir; }
    // The directory's lock, held until the file goes or its installer is started (-1 when
    // no directory is open).
    int lockHandle() const { return m_dirFd; }
    // The finished installer; empty before finish().
    QString path() const { return m_final; }
    qint64 size() const { return m_size; }

private:
    void closeFile();

    QString m_name;
    QString m_root;
    QString m_dir;
    QString m_part;
    QString m_final;
    int m_fd = -1;
    int m_dirFd = -1;
    int m_slot = -1;  // in the list of part files that a signal removes
    qint64 m_size = 0;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};

// Starts the installer as a process of its own that keeps running when the editor ends.
// `lockHandle` (the directory's lock, or -1) goes with it, and the directory is marked as
// started. When it cannot be started the reason is the system's ("Exec format error",
// "Permission denied" …).
bool startInstaller(const QString &path, int lockHandle, QString *error);

// Removes, below `tempRoot` (empty: the system's temporary location), the user's private
// download directories that nobody holds any more and that hold a part file or an
// installer that was started. Returns how many were removed.
int sweepInstallerLeftovers(const QString &tempRoot = {});

}  // namespace vl::update
