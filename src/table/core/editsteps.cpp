#include "editsteps.h"

namespace vl {

EditSteps::Step::Step(EditSteps *steps, const QString &name) : m_steps(steps)
{
    if (m_steps && !m_steps->stepOpen()) {
        m_steps->beginStep(name);
        m_began = true;
    }
}

EditSteps::Step::~Step()
{
    if (m_began)
        m_steps->endStep();
}

EditSteps::Automatic::Automatic(EditSteps *steps) : m_steps(steps)
{
    if (m_steps)
        m_steps->beginAutomatic();
}

EditSteps::Automatic::~Automatic()
{
    if (m_steps)
        m_steps->endAutomatic();
}

}  // namespace vl
