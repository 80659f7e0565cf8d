#pragma once

// Whether a folder's entries came, went or changed since the last look, heard from an
// inotify watch that is read without waiting. Lets periodic refreshes skip reading a folder
// (or probing what its files stand for) while nothing there has moved.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vl {

class FolderWatch {
public:
    // `events`: the inotify events that count (IN_CREATE, IN_DELETE, ...). `namePrefix`:
    // when not empty, only entries whose names start with it count; events on the folder
    // itself always do.
    explicit FolderWatch(std::uint32_t events, QByteArray namePrefix = {});
    ~FolderWatch();
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    // Whether `path` may have changed since the last call. True on the first look at a
    // path (the watch starts then, before the caller reads it), after anything that counts,
    // after the kernel's queue overflowed, when the folder comes or goes, and always while
    // neither it nor its parent can be watched: never false when it may be wrong. While the
    // folder does not exist its parent is watched for it.
    bool changed(const QString &path);
    // Whether `path` is being watched now.
    bool isWatching() const { return m_wd >= 0; }

private:
    bool drain();
    bool watchFolder();
    void stopWatching();

    int m_fd = -1;
    int m_wd = -1;
    int m_parentWd = -1;
    std::uint32_t m_events;
    QByteArray m_prefix;
    QString m_pathText;
    QByteArray m_path;
    QByteArray m_parent;
    QByteArray m_leaf;
};

}  // namespace vl
