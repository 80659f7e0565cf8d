#include "workbookcommands.h"

#include "files/core/workbookio.h"
#include "files/core/workbookproblems.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include "common/ui/dialogs.h"

#include <QDir>
#include <QFileInfo>

namespace vl {

namespace {

const QString kFilter = QStringLiteral("Excel Files (*.xlsx)");

}  // namespace

QString openRuleWorkbook(QWidget *parent, RuleModel &rules, const WorkbookHooks &hooks, const QString &folder)
{
    const QString path = getOpenFileName(parent, QStringLiteral("Open Excel File"), folder, kFilter);
    return !path.isEmpty() && loadRuleWorkbook(parent, path, rules, hooks) ? path : QString();
}

bool loadRuleWorkbook(QWidget *parent, const QString &path, RuleModel &rules, const WorkbookHooks &hooks)
{
    // Everything is checked before the table is touched, so a file that cannot be used
    // leaves the user's table as it was.
    const WorkbookImport in = readRuleWorkbook(path);
    if (in.status != WorkbookImport::Loaded) {
        warning(parent, QStringLiteral("Error"), workbookImportProblem(in));
        return false;
    }

    applyWorkbookRows(rules, in);
    if (hooks.applyRemarkLines)
        hooks.applyRemarkLines(in.remarkLines);
    if (hooks.afterImport)
        hooks.afterImport();
    const QStringList notes = workbookImportNotes(in);
    information(parent, QStringLiteral("Success"),
                (QStringList{QStringLiteral("Excel file loaded successfully!")} + notes).join(QStringLiteral("\n\n")));
    return true;
}

QString saveRuleWorkbookAs(QWidget *parent, const QAbstractItemModel *rules, const QAbstractItemModel *remarks,
                           const WorkbookHooks &hooks, const QString &proposed)
{
    if (hooks.checkImage && hooks.checkImage() == 0)
        return QString();
    const QString chosen = getSaveFileName(parent, QStringLiteral("Save Excel File"),
                                           proposed.isEmpty() ? QStringLiteral("untitled.xlsx") : proposed, kFilter);
    if (chosen.isEmpty())
        return QString();
    const QString path = withWorkbookSuffix(chosen);
    // The file dialog asked about the name as typed; a different file named by the
    // appended extension is asked about here.
    if (path != chosen && QFileInfo::exists(path)
        && question(parent, QStringLiteral("Save Excel File"),
                    QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(path).fileName()),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               != QMessageBox::Yes)
        return QString();

    if (!rules) {
        warning(parent, QStringLiteral("Error"), QStringLiteral("tableView model is null"));
        return QString();
    }
    if (!remarks) {
        warning(parent, QStringLiteral("Error"), QStringLiteral("tableView_2 model is null"));
        return QString();
    }
    if (rules->rowCount() > kMaxWorkbookRules) {
        // It would not open again whole.
        warning(parent, QStringLiteral("Error"),
                QStringLiteral("The table has %1 rows; a workbook the editor opens holds at most %2.")
                    .arg(rules->rowCount())
                    .arg(kMaxWorkbookRules));
        return QString();
    }
    xlsx::Document doc;
    fillRuleWorkbook(doc, *rules, *remarks);

    const bool existed = QFileInfo::exists(path);
    if (doc.saveAs(path)) {
        const QString note = workbookSaveNote(doc);
        information(parent, QStringLiteral("Success"),
                    QStringLiteral("Excel file saved successfully!")
                        + (note.isEmpty() ? QString() : QStringLiteral("\n\n") + note));
        return path;
    }
    // The first line says what failed; the rest says why, as precisely as the file system
    // tells.
    QString text = existed ? QStringLiteral("Failed to overwrite the existing Excel file.")
                           : QStringLiteral("Failed to create the Excel file.");
    switch (doc.saveFailure()) {
    case xlsx::SaveFailure::NoSpace:
        text += QStringLiteral("\n\nThere is no space left on the disk. Free some space, or choose another disk, "
                               "and try again.");
        break;
    case xlsx::SaveFailure::ReadOnlyFileSystem:
        text += QStringLiteral("\n\nThe file system of its folder is read-only. Choose a folder on a writable disk "
                               "and try again.");
        break;
    case xlsx::SaveFailure::NoFolder:
        text += QStringLiteral("\n\nThe folder \"%1\" does not exist.")
                    .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
        break;
    default:
        text += existed ? QStringLiteral("\n\nMost likely reasons:\n• The file is opened in Excel/WPS\n• The file is "
                                         "read-only\n• You do not have permission to modify this file\n\nPlease "
                                         "close the file and try again.")
                        : QStringLiteral("\n\nPossible reasons:\n• The directory is not writable\n• Insufficient "
                                         "permissions\n• Disk error");
        if (doc.saveFailure() == xlsx::SaveFailure::Other && !doc.errorString().isEmpty())
            text += QStringLiteral("\n\nThe system reported: %1.").arg(doc.errorString());
        break;
    }
    warning(parent, QStringLiteral("Save Excel Failed"), text);
    return QString();
}

}  // namespace vl
