#include "workbookcommands.h"

#include "files/workbookio.h"
#include "files/workbookproblems.h"
#include "table/rulemodel.h"

#include "common/dialogs.h"

#include <QFileInfo>

namespace vl {

namespace {

const QString kFilter = QStringLiteral("Excel Files (*.xlsx)");

}  // namespace

void openRuleWorkbook(QWidget *parent, RuleModel &rules, const WorkbookHooks &hooks)
{
    const QString path = getOpenFileName(parent, QStringLiteral("Open Excel File"), QString(), kFilter);
    if (!path.isEmpty())
        loadRuleWorkbook(parent, path, rules, hooks);
}

void loadRuleWorkbook(QWidget *parent, const QString &path, RuleModel &rules, const WorkbookHooks &hooks)
{
    // Everything is checked before the table is touched, so a file that cannot be used
    // leaves the user's table as it was.
    const WorkbookImport in = readRuleWorkbook(path);
    if (in.status != WorkbookImport::Loaded) {
        warning(parent, QStringLiteral("Error"), workbookImportProblem(in));
        return;
    }

    applyWorkbookRows(rules, in);
    if (hooks.applyRemarkLines)
        hooks.applyRemarkLines(in.remarkLines);
    if (hooks.afterImport)
        hooks.afterImport();
    information(parent, QStringLiteral("Success"), QStringLiteral("Excel file loaded successfully!"));
}

void saveRuleWorkbookAs(QWidget *parent, const QAbstractItemModel *rules, const QAbstractItemModel *remarks,
                        const WorkbookHooks &hooks)
{
    if (hooks.checkImage && hooks.checkImage() == 0)
        return;
    QString path = getSaveFileName(parent, QStringLiteral("Save Excel File"), QStringLiteral("untitled.xlsx"), kFilter);
    if (path.isEmpty())
        return;
    path = withWorkbookSuffix(path);

    if (!rules) {
        warning(parent, QStringLiteral("Error"), QStringLiteral("tableView model is null"));
        return;
    }
    if (!remarks) {
        warning(parent, QStringLiteral("Error"), QStringLiteral("tableView_2 model is null"));
        return;
    }
    xlsx::Document doc;
    fillRuleWorkbook(doc, *rules, *remarks);

    const bool existed = QFileInfo::exists(path);
    if (doc.saveAs(path)) {
        information(parent, QStringLiteral("Success"), QStringLiteral("Excel file saved successfully!"));
        return;
    }
    const QString text =
        existed ? QStringLiteral("Failed to overwrite the existing Excel file.\n\nMost likely reasons:\n"
                                 "• The file is opened in Excel/WPS\n• The file is read-only\n"
                                 "• You do not have permission to modify this file\n\nPlease close the file and "
                                 "try again.")
                : QStringLiteral("Failed to create the Excel file.\n\nPossible reasons:\n• The directory is not "
                                 "writable\n• Insufficient permissions\n• Disk error");
    warning(parent, QStringLiteral("Save Excel Failed"), text);
}

}  // namespace vl
