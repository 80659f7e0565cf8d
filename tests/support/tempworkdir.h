#pragma once

// Runs a test inside a fresh, empty working directory, since the editor keeps its
// preferences and aliases in files relative to it.

#include <QDir>
#include <QTemporaryDir>

namespace vl::test {

class TempWorkDir {
public:
    TempWorkDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~TempWorkDir() { QDir::setCurrent(m_previous); }
    TempWorkDir(const TempWorkDir &) = delete;
    TempWorkDir &operator=(const TempWorkDir &) = delete;

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

}  // namespace vl::test
