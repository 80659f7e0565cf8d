#pragma once

// What the editor says about a workbook it cannot open; the command-line tool says the
// same.

#include "workbookio.h"

#include <QString>

namespace vl {

// The message for a workbook that could not be used ("Excel file has no worksheets!", …);
// empty for one that was loaded.
QString workbookImportProblem(const WorkbookImport &in);

}  // namespace vl
