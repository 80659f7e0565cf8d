#include "workbookproblems.h"

namespace vl {

QString workbookImportProblem(const WorkbookImport &in)
{
    switch (in.status) {
    case WorkbookImport::Unreadable: return QStringLiteral("The Excel file could not be read: %1.").arg(in.detail);
    case WorkbookImport::NoSheets: return QStringLiteral("Excel file has no worksheets!");
    case WorkbookImport::NoHeader: return QStringLiteral("Main sheet has no header columns!");
    case WorkbookImport::OneColumn: return QStringLiteral("Need at least 2 columns (last column is remark/alias).");
    case WorkbookImport::BadHeader: return in.detail;
    case WorkbookImport::Loaded: break;
    }
    return QString();
}

}  // namespace vl
