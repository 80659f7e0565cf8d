// The editor window's part of the software update: the check once the window is built and
// the manual check from the Help menu. Both compare against the about box's version.

#include "widget.h"

#include "aboutdialog.h"

#include "update/ui/softwareupdater.h"

namespace vl {

void Widget::startSoftwareUpdate()
{
    m_updater = new SoftwareUpdater(this);
    m_updater->startupCheck(m_about->version());
}

void Widget::updatalightdata2() { m_updater->manualCheck(m_about->version()); }

}  // namespace vl
