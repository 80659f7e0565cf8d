#include "controllerpass.h"

#include "changedrows.h"
#include "editsteps.h"
#include "rulemodel.h"
#include "ruleops.h"

namespace vl {

ControllerPass::ControllerPass(RuleModel &rules, QObject *parent)
    : QObject(parent), m_rules(rules), m_changed(new ChangedRows(&rules, this))
{
    m_changed->markAll();
}

void ControllerPass::setNaming(int cnum)
{
    m_cnum = cnum;
    m_changed->markAll();
}

void ControllerPass::renameNotes()
{
    const EditSteps::Automatic automatic(m_steps);  // a naming, not an edit
    renameNoteTexts(m_rules, m_cnum);
}

void ControllerPass::run()
{
    if (!m_changed->any())
        return;
    // The pass rewrites what the user typed; its rewrites are no step of their own.
    const EditSteps::Automatic automatic(m_steps);
    normalizeControllerTexts(m_rules, m_cnum, m_changed->first(), m_changed->last());
    // Its own writes need no second look.
    m_changed->clear();
}

void ControllerPass::runOverAll()
{
    m_changed->markAll();
    run();
}

}  // namespace vl
