#pragma once

// The editor's "Open File" and "Save File As..." commands: file dialogs, checks, messages
// and the changes to the rule table and remarks. The window provides the few steps that
// belong to other parts of the editor through the hooks.

#include "files/core/workbookio.h"

#include <QByteArray>

#include <functional>

class QAbstractItemModel;
class QWidget;

namespace vl {

class RuleModel;

struct WorkbookHooks {
    // Sets the remarks from "alias<row>=<text>" lines and shows them.
    std::function<void(const QByteArray &)> applyRemarkLines;
    // Runs after a successful import (aliases are written again and the DMX cells relabelled).
    std::function<void()> afterImport;
    // The configuration-image check before a save: 0 refuses the save (it has told the user why).
    std::function<int()> checkImage;
};

// Asks for a workbook (the dialog opens in `folder`) and loads it into the rule table. A
// workbook that cannot be used changes nothing. Returns the path loaded, or an empty
// string.
QString openRuleWorkbook(QWidget *parent, RuleModel &rules, const WorkbookHooks &hooks,
                         const QString &folder = QString());
// Loads the workbook at `path` as openRuleWorkbook loads the chosen one, with the same
// checks and messages. Returns whether it was loaded.
bool loadRuleWorkbook(QWidget *parent, const QString &path, RuleModel &rules, const WorkbookHooks &hooks);

// Asks for a file name, proposing `proposed` ("untitled.xlsx" when empty), and saves the
// rule table and the remarks. `rules` and `remarks` are the models of the two views
// (either may be missing). Returns the path saved, or an empty string.
QString saveRuleWorkbookAs(QWidget *parent, const QAbstractItemModel *rules, const QAbstractItemModel *remarks,
                           const WorkbookHooks &hooks, const QString &proposed = QString());

}  // namespace vl
