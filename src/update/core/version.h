#pragma once

// Dotted version texts ("4.0.1", "1.2.0") and how two of them compare. The editor's own
// update check and the box's firmware check use these same rules.

#include <QString>
#include <QVector>

namespace vl::update {

// The numbers of a version: the text split at ".", empty parts kept, each part's integer
// value; a part that is not a plain number (digits only, within int) counts as 0.
// "1..2" gives 1, 0, 2; "" gives one 0.
QVector<int> versionNumbers(const QString &version);

// Compares two versions part by part from the left over as many parts as the longer one
// has, a missing part counting as 0; the first unequal part decides. Negative when `a` is
// older than `b`, 0 when they are equal ("1.2" and "1.2.0"), positive when `a` is newer.
int compareVersions(const QString &a, const QString &b);

// The integer value of the text before the first "." (0 when it is not a number).
int majorNumber(const QString &version);

// Whether `offered` is newer than `current` under the full comparison.
bool isNewerVersion(const QString &current, const QString &offered);
// Whether `offered` has a greater major number than `current`; the editor's check at
// start-up offers only these.
bool isNewerMajor(const QString &current, const QString &offered);

// Whether a version text from a server may be offered at all: one or more plain numbers
// of at most nine digits joined by single dots ("4.1.0"; not "4..1", ".5", "4.1." or "").
bool isVersionText(const QString &text);

}  // namespace vl::update
