#pragma once

// Base of the tests that build the editor window: every test function runs in a fresh,
// empty working directory with scripted dialogs, and the picture bundle is registered.
// A test class that calls useManualClock() in its constructor also gets a fresh
// ManualScheduler per test function, installed before the function builds its window, so
// the window's timers (the 100 ms ticks, the preview's 200 ms countdown) run only when the
// test steps `clock`.

#include "common/core/scheduler.h"
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
    std::unique_ptr<ManualScheduler> clock;

    void useManualClock() { m_manualClock = true; }

    // A test class that has its own init() or cleanup() calls these from it.
protected slots:
    void initTestCase() { initResources(); }
    void init()
    {
        dir = std::make_unique<TempWorkDir>();
        dialogs = std::make_unique<ScriptedDialogs>();
        if (m_manualClock) {
            clock = std::make_unique<ManualScheduler>();
            installScheduler(clock.get());
        }
    }
    void cleanup()
    {
        installScheduler(nullptr);
        clock.reset();
        dialogs.reset();
        dir.reset();
    }

private:
    bool m_manualClock = false;
};

}  // namespace vl::test
