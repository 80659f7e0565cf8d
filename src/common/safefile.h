#pragma once

#include <QByteArray>
#include <QString>

namespace vl {

// Writes the whole of `data` to `path` or leaves the file as it was: the bytes go to a
// temporary file beside it that replaces the target only once everything is written.
// On failure returns false and, if `error` is given, a description of what went wrong.
bool writeFileWhole(const QString &path, const QByteArray &data, QString *error = nullptr);

}  // namespace vl
