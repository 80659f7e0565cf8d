#pragma once

// Where a file downloaded from the update server goes while it arrives: the editor's
// installer into a private file (InstallerFile), a firmware image into memory.

#include "releasetext.h"

#include <QByteArray>
#include <QString>

namespace vl::update {

// Where a downloaded file goes while it arrives.
class DownloadTarget {
public:
    virtual ~DownloadTarget();
    // Before the first piece; false (with a reason) ends the download before it starts.
    virtual bool open(QString *error) = 0;
    virtual bool write(const QByteArray &piece, QString *error) = 0;
    // The whole body is in. False refuses it (with a reason) and keeps nothing; `announced`
    // is the checksum the release text gives for the file.
    virtual bool finish(const AnnouncedHash &announced, QString *error) = 0;
    // Drops whatever was written.
    virtual void discard() = 0;
};

}  // namespace vl::update
