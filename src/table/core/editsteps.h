#pragma once

// Where the editor's user actions begin and end, for its edit history (EditHistory in the
// table's widget library implements this). Classes that change the tables without a
// widget (Read and Set, the controller pass, the DMX labels) say through it which changes
// make one step of Undo and which ones the program makes by itself; they work without a
// history too (a null EditSteps).

#include <QString>

namespace vl {

class EditSteps {
public:
    virtual ~EditSteps() = default;

    // Opens a step: every change until endStep() is part of it. While a step is open,
    // beginStep() keeps that step (and its name).
    virtual void beginStep(const QString &name) = 0;
    // Closes the open step; a step that changed nothing leaves no trace.
    virtual void endStep() = 0;
    virtual bool stepOpen() const = 0;
    // The table as it is now was opened, read or saved.
    virtual void markClean() = 0;

    // A user action, one step, for the life of the guard. Inside an open step it adds to
    // that step. `steps` may be null.
    class Step {
    public:
        Step(EditSteps *steps, const QString &name);
        ~Step();
        Step(const Step &) = delete;
        Step &operator=(const Step &) = delete;

    private:
        EditSteps *m_steps;
        bool m_began = false;
    };

    // Changes the program makes by itself (the controller pass, DMX labels): they are no
    // step of their own. Inside an open step they belong to that step. `steps` may be null.
    class Automatic {
    public:
        explicit Automatic(EditSteps *steps);
        ~Automatic();
        Automatic(const Automatic &) = delete;
        Automatic &operator=(const Automatic &) = delete;

    private:
        EditSteps *m_steps;
    };

protected:
    // Around changes made by the program itself (see Automatic).
    virtual void beginAutomatic() = 0;
    virtual void endAutomatic() = 0;
};

}  // namespace vl
