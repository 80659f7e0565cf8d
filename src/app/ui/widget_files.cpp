// The editor window's workbook commands: "Open File", "Save File" and "Save File As...".

#include "widget.h"

#include "files/ui/workbookcommands.h"
#include "table/core/aliaskeeper.h"
#include "table/core/rulemodel.h"
#include "table/ui/edithistory.h"
#include "table/ui/tableviews.h"

#include <QFileInfo>

namespace vl {

WorkbookHooks Widget::workbookHooks()
{
    WorkbookHooks hooks;
    hooks.applyRemarkLines = [this](const QByteArray &lines) { applyRemarkLines(lines); };
    hooks.afterImport = [this] { m_aliases->keepAfterImport(); };
    hooks.checkImage = [this] { return sendConfigurationImage(2); };
    return hooks;
}

void Widget::open_midi_file()
{
    // The dialog opens where the last workbook was.
    const QString folder = m_workbookPath.isEmpty() ? QString() : QFileInfo(m_workbookPath).absolutePath();
    openAsOneStep([&] { return openRuleWorkbook(this, *m_rules, workbookHooks(), folder); });
}

void Widget::openWorkbookFile(const QString &path)
{
    openAsOneStep([&] { return loadRuleWorkbook(this, path, *m_rules, workbookHooks()) ? path : QString(); });
}

void Widget::openAsOneStep(const std::function<QString()> &open)
{
    m_history->beginStep(QStringLiteral("Open File"));
    const QString path = open();
    m_history->endStep();
    if (!path.isEmpty()) {
        m_workbookPath = path;
        m_history->markClean();  // the table is the workbook's
    }
}

bool Widget::saveWorkbook()
{
    const QString path = saveRuleWorkbookAs(this, ui.tableView->model(), ui.tableView_2->model(), workbookHooks(),
                                            m_workbookPath);
    if (path.isEmpty())
        return false;
    m_workbookPath = path;
    m_history->markClean();
    return true;
}

void Widget::save_As_file() { saveWorkbook(); }

}  // namespace vl
