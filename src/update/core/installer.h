#pragma once

// Where a downloaded installer goes and how it is started. The file is written into a new
// private directory (mode 0700) below the temporary location, never into the shared
// temporary directory itself where another user could have placed a file or a link under
// the same name, and it is created exclusively, so nothing that exists is written through.
// It is written as "<name>.part" and gets its name only once complete and checked.

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
    // Refuses an empty file and one whose checksum differs from `announced` (both are
    // removed); otherwise makes the file executable and gives it its name.
    bool finish(const AnnouncedHash &announced, QString *error) override;
    // Removes the part file or the finished file, and the directory.
    void discard() override;

    QString directory() const { return m_dir; }
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
    qint64 m_size = 0;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};

// Starts the installer as a process of its own that keeps running when the editor ends.
bool startInstaller(const QString &path, QString *error);

}  // namespace vl::update
