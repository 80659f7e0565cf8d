#pragma once

// The texts the update server publishes: the editor's update text and the box's firmware
// information file. Both begin with a release name (a product prefix, "V" and a version
// of digits and dots) and carry their release notes after "Update content:". Before the
// notes they carry a line "SHA256: <64 hex digits>" with the checksum of the file the text
// names (older editors ignore the line), or "SHA256 <file name>: <64 hex digits>" where a
// text serves files for several systems. The downloaded firmware and installer are used
// only with such a line.

#include <QByteArray>
#include <QString>

namespace vl::update {

struct ReleaseText {
    QString releaseName;  // "Varilume_V4.1.0"; empty when the text does not begin with one
    QString version;      // "4.1.0"
    QString notes;        // after "Update content:" and the white space after it; empty without

    bool hasRelease() const { return !releaseName.isEmpty(); }
};

// Reads a release text that must begin with `prefix` and a version ("Varilume_V",
// "KVR-9000_V"); when `terminator` is given (";") it must follow the version at once.
// A version that is not digits and single dots (isVersionText), or that runs on into a
// letter, digit, "_", "-" or "+", gives no release: such a text is never offered.
ReleaseText parseReleaseText(const QString &text, const QString &prefix, const QString &terminator = {});

// Everything after the first "Update content:" and the white space after it.
QString releaseNotes(const QString &text);

struct AnnouncedHash {
    enum State {
        None,       // the text announces no checksum for the file
        Valid,      // digest holds the 32 bytes announced
        Malformed,  // a checksum line is there but unreadable (line): nothing matches it
    };
    State state = None;
    QByteArray digest;
    QString line;  // the unreadable line, as it stands
};

// The checksum a text announces for `fileName`, read from the lines before the release
// notes: a line naming the file wins over a plain "SHA256:" line; lines naming other
// files are ignored. A line that looks meant as a checksum line but is not one exactly
// ("sha256:", an indented "SHA256:", "SHA-256:", a value that is not 64 hex digits) makes
// the checksum Malformed, whatever other lines say.
AnnouncedHash announcedSha256(const QString &text, const QString &fileName);

// Whether data with this SHA-256 digest may be used: true when nothing is announced or
// the digests agree.
bool digestAccepted(const AnnouncedHash &announced, const QByteArray &sha256);

// Why data with this SHA-256 digest may not be used where a checksum is required: no
// checksum announced ("the server announced no checksum; not used"), an unreadable line
// (named), or a different checksum; empty when the digests agree.
QString checksumProblem(const AnnouncedHash &announced, const QByteArray &sha256);

}  // namespace vl::update
