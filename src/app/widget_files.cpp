// The editor window's workbook commands: "Open File", "Save File" and "Save File As...".

#include "widget.h"

#include "mainwindow.h"

#include "common/scheduler.h"

#include "files/workbookcommands.h"
#include "table/rulemodel.h"
#include "table/tableviews.h"

#include <QAction>

namespace vl {

WorkbookHooks Widget::workbookHooks()
{
    WorkbookHooks hooks;
    hooks.applyRemarkLines = [this](const QByteArray &lines) { applyRemarkLines(lines); };
    hooks.afterImport = [this] {
        // The aliases stay as they were; they are written again and shown on the new rows.
        m_aliasTimer->start(kAliasTimerMs);
        m_scheduler->singleShot(kAliasTimerMs, this, [this] {
            saveAliasFile();
            relabelDmxCells();
        });
    };
    hooks.checkImage = [this] { return sendConfigurationImage(2); };
    return hooks;
}

void Widget::open_midi_file() { openRuleWorkbook(this, *m_rules, workbookHooks()); }

void Widget::openWorkbookFile(const QString &path) { loadRuleWorkbook(this, path, *m_rules, workbookHooks()); }

void Widget::save_As_file()
{
    saveRuleWorkbookAs(this, m_tableView->model(), m_tableView2->model(), workbookHooks());
}

void Widget::connectWorkbookMenu()
{
    connect(m_menu->action1, &QAction::triggered, this, &Widget::open_midi_file);
    // "Save File" has no remembered file: it always asks, like "Save File As...".
    connect(m_menu->action2, &QAction::triggered, this, &Widget::save_As_file);
    connect(m_menu->action3, &QAction::triggered, this, &Widget::save_As_file);
}

}  // namespace vl
