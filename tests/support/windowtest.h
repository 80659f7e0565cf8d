#pragma once

// Base of the tests that build the editor window: every test function runs in a fresh,
// empty working directory with scripted dialogs, and the picture bundle is registered.

#include "resources/resources.h"
#include "scripteddialogs.h"
#include "tempworkdir.h"

#include <QObject>
#include <memory>

namespace vl::test {

class WindowTest : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<ScriptedDialogs> dialogs;

    // A test class that has its own init() or cleanup() calls these from it.
protected slots:
    void initTestCase() { initResources(); }
    void init()
    {
        dir = std::make_unique<TempWorkDir>();
        dialogs = std::make_unique<ScriptedDialogs>();
    }
    void cleanup()
    {
        dialogs.reset();
        dir.reset();
    }
};

}  // namespace vl::test
