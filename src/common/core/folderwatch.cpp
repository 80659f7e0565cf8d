#include "folderwatch.h"

#include <QFile>

#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace vl {

FolderWatch::FolderWatch(std::uint32_t events, QByteArray namePrefix)
    : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_events(events), m_prefix(std::move(namePrefix))
{
}

FolderWatch::~FolderWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderWatch::changed(const QString &path)
{
    if (path != m_pathText || m_path.isEmpty()) {
        const QByteArray encoded = QFile::encodeName(path);
        stopWatching();
        m_pathText = path;
        m_path = encoded;
        const int slash = encoded.lastIndexOf('/');
        m_parent = slash > 0 ? encoded.left(slash) : QByteArray(slash == 0 ? "/" : ".");
        m_leaf = encoded.mid(slash + 1);
    }
    if (m_fd < 0)
        return true;
    const bool heard = drain();
    if (m_wd >= 0)
        return heard;
    // The folder is not there: its parent tells when it comes, so it is not looked up in
    // vain at every look.
    if (m_parentWd >= 0 && !heard)
        return false;
    // Watching starts before the caller reads the folder, so nothing done meanwhile is
    // missed.
    if (watchFolder())
        return true;
    if (m_parentWd < 0) {
        m_parentWd = ::inotify_add_watch(m_fd, m_parent.constData(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
        watchFolder();  // it may have come before the parent was watched
    }
    return true;
}

bool FolderWatch::watchFolder()
{
    m_wd = ::inotify_add_watch(m_fd, m_path.constData(),
                               m_events | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (m_wd < 0)
        return false;
    if (m_parentWd >= 0)
        ::inotify_rm_watch(m_fd, m_parentWd);
    m_parentWd = -1;
    return true;
}

void FolderWatch::stopWatching()
{
    if (m_wd >= 0)
        ::inotify_rm_watch(m_fd, m_wd);
    if (m_parentWd >= 0)
        ::inotify_rm_watch(m_fd, m_parentWd);
    m_wd = -1;
    m_parentWd = -1;
}

bool FolderWatch::drain()
{
    bool heard = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;  // EAGAIN: nothing more queued
        }
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event)) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                heard = true;
                continue;
            }
            if (event->wd < 0)
                continue;
            if (event->wd == m_parentWd) {
                // Only the folder's own name coming into the parent counts.
                if (event->mask & IN_IGNORED)
                    m_parentWd = -1;
                if ((event->mask & IN_IGNORED) || (event->len > 0 && m_leaf == event->name))
                    heard = true;
                continue;
            }
            if (event->wd != m_wd)
                continue;  // from a folder watched before
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder went (or moved away): watch whatever is at the path next time.
                if (!(event->mask & IN_IGNORED))
                    ::inotify_rm_watch(m_fd, m_wd);
                m_wd = -1;
                heard = true;
                continue;
            }
            if (event->len == 0 || m_prefix.isEmpty() || QByteArray(event->name).startsWith(m_prefix))
                heard = true;
        }
    }
    return heard;
}

}  // namespace vl
