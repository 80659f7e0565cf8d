#pragma once

// Whole files as bytes, for tests that check what the program wrote or give it a file.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace vl::test {

// The file's bytes; empty when it cannot be read.
inline QByteArray readFileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes `bytes` as the whole file; false when that failed.
inline bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace vl::test
