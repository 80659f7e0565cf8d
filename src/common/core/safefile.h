#pragma once

// Reading and writing whole files safely, for everything the programs keep in files
// (workbooks, aliases, projects, table images, varilume-cli's outputs).
//
// A whole write replaces a file all at once or not at all: the bytes go to a temporary
// file beside the target, are synced to the disk, and the temporary file is then renamed
// over the target. A new file gets the mode the umask allows (0666 less the umask); a file
// that is replaced keeps its mode (and, where the system lets us, its owner). A symbolic
// link is followed and the file it leads to is replaced, the link stays; a link that lies
// in a shared sticky folder (such as /tmp) and belongs to another user is not followed.
// A read-only file is not replaced. A folder, a device, a FIFO or a socket is never
// replaced; where the caller allows it (varilume-cli's -o), the bytes are written into a
// character device or a FIFO as they are, as a shell's ">" would.
//
// Reading takes regular files only, up to a size limit, and never waits on a FIFO.

#include <QByteArray>
#include <QString>

#include <functional>

namespace vl {

// Why a file could not be read or written.
struct FileProblem {
    int code = 0;    // the system's error number; 0 when the problem is no system error
    QString reason;  // lower case, no full stop: "no space left on the device"

    bool isEmpty() const { return reason.isEmpty(); }
};

// What a whole write does with a target that is not a regular file.
enum class SpecialTarget {
    Refuse,  // nothing is written to it (the editor's saves)
    Stream,  // a character device or a FIFO gets the bytes as they are (nothing is replaced)
};

// Writes the whole of `data` to `path` or leaves the file as it was. On failure returns
// false and, if `error` is given, why (the reason of a FileProblem).
bool writeFileWhole(const QString &path, const QByteArray &data, QString *error = nullptr);
bool writeFileWhole(const QString &path, const QByteArray &data, SpecialTarget special, FileProblem *problem);

// Whether writeFileWhole() would find nothing in the way of writing `path`: its folder
// exists, it is no folder, no special file it may not write to, not read-only, no link it
// may not follow. Nothing is created or opened. For checks before long work whose result
// goes to `path`.
bool canWriteFileWhole(const QString &path, SpecialTarget special, FileProblem *problem);

// Reads all of the regular file `path` if it holds at most `maxBytes` bytes. A folder, a
// device, a FIFO or a socket is refused without reading from it (a FIFO without a writer
// never blocks); so is a larger file.
bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *data, FileProblem *problem);

// Whether `path` is a regular file (or a link to one), looked at without opening it: a
// folder, a device, a FIFO or a socket is not, and `problem` says what it is instead.
bool isRegularFile(const QString &path, FileProblem *problem);

// The reason for a system error number, as FileProblem gives it: "no space left on the
// device", "the file system is read-only", "permission denied" …
QString fileErrorReason(int code);

// Removes the temporary file of a whole write that is under way, if there is one. Safe to
// call from a signal handler: a program that ends on a signal calls it so that no partly
// written file stays behind.
void discardWholeWriteInProgress();

// For tests: the steps of a whole write into a regular file, in their order.
enum class WholeWriteStep { CreateTemporary, Write, Sync, Rename };
// Called before each step; a non-zero result makes the step fail with that error number.
// An empty function (the default) lets every step run.
void setWholeWriteHook(std::function<int(WholeWriteStep step, const QString &temporaryPath)> hook);

}  // namespace vl
