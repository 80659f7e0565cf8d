#pragma once

// DMX channel aliases: the alias file, the labels of DMX cells and editors. Entry i of an
// alias list names DMX channel i + 1; an empty text means the channel has no alias.

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

namespace vl {

Q_DECLARE_LOGGING_CATEGORY(lcAliases)

class RuleModel;

// The alias file in the editor's working directory.
QString aliasFilePath();

// Limits for alias files we did not write ourselves. A file we write has 1024 lines of
// short names (at most about 1 MB); lines past kMaxAliasLines are not read, an alias keeps
// at most kMaxAliasLength characters (longer lines are cut, the rest of the line is
// skipped), and no more than the first kMaxAliasFileBytes of a file are read.
constexpr int kMaxAliasLines = 4096;
constexpr int kMaxAliasLength = 256;
constexpr qint64 kMaxAliasFileBytes = 16 * 1024 * 1024;

// An alias as it may be stored and shown: line breaks become spaces (they would shift
// every later channel in the file) and it is cut to kMaxAliasLength characters.
QString sanitizedAlias(const QString &alias);

// Splits the bytes of an alias file into aliases: UTF-8 (invalid sequences become U+FFFD),
// lines ended by LF, CR LF or CR; a last line without a line end counts. Only the file's
// first three bytes can be a byte-order mark; a U+FEFF anywhere else is part of an alias.
// Applies the limits above.
QStringList parseAliasText(const QByteArray &bytes);

// The file's bytes for a list: every entry followed by "\n", UTF-8. When the first alias
// itself begins with U+FEFF, a byte-order mark goes before it so that it reads back whole.
QByteArray aliasFileBytes(const QStringList &aliases);

struct AliasFileResult {
    enum Status {
        Loaded,
        CannotCreate,  // the file was missing and could not be created
        CannotRead,    // the file (or what stands under its name) could not be read
    };
    Status status = Loaded;
    QStringList aliases;  // the file's lines when Loaded
    // What was not read, for the log, e.g. "./Aliases.txt is a FIFO, not a regular file";
    // empty when the whole file was read.
    QString ignored;
};

// Reads the alias file at `path`; a missing file is first created empty. Only a regular
// file is read (a FIFO would block and a device may never end): anything else under the
// name is CannotRead. Reads no more of the file than the limits can use, so a huge file
// costs no more than a small one. What was left out is logged once (category
// "varilume.aliases") and named in `ignored`.
AliasFileResult readAliasFile(const QString &path);

// Writes the list to `path` whole or not at all. Refuses when something other than a
// regular file stands under the name (a directory, a FIFO, a device, or a link to one):
// that is never replaced or written through.
bool writeAliasFile(const QString &path, const QStringList &aliases);

// The text of DMX channel n (1-based) under the list: "n-alias", or "n" when the channel
// has no alias or lies beyond the list.
QString dmxChannelText(int channel, const QStringList &aliases);

// The labels of a DMX editor's 1024 items under the list.
QStringList dmxEditorLabels(const QStringList &aliases);

// Brings every DMX cell into its alias form under the list. Cells without a usable
// channel number, or with a number beyond the list, stay as they are. Returns the number
// of cells written.
int relabelDmxCells(RuleModel &rules, const QStringList &aliases);

}  // namespace vl
