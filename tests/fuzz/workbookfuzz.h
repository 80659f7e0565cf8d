#pragma once

// What the workbook targets check of a workbook file: the editor's Open (read the first
// sheet, build the table) read in one pass and in two halves at once, with the same
// result, and the Set check and image of what was opened.

#include "fuzzsupport.h"

#include "device/core/tableimage.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "table/core/rulemodel.h"

#include <climits>

namespace vl::fuzz {

inline xlsx::ReadLimits onePass()
{
    xlsx::ReadLimits limits;
    limits.parallelFromBytes = INT_MAX;
    return limits;
}

inline xlsx::ReadLimits inHalves()
{
    xlsx::ReadLimits limits;
    limits.parallelFromBytes = 0;  // every sheet that can be cut
    return limits;
}

inline void openAsTheEditorDoes(const QString &path)
{
    const WorkbookImport once = readRuleWorkbook(path, onePass());
    const WorkbookImport halves = readRuleWorkbook(path, inHalves());
    FUZZ_EXPECT(once.status == halves.status);
    FUZZ_EXPECT(once.detail == halves.detail);
    FUZZ_EXPECT(once.headers == halves.headers);
    FUZZ_EXPECT(once.rows == halves.rows);
    FUZZ_EXPECT(once.remarkLines == halves.remarkLines);
    FUZZ_EXPECT(once.firstRowLeftOut == halves.firstRowLeftOut && once.rowsLeftOut == halves.rowsLeftOut);
    FUZZ_EXPECT(once.moreThanTaken == halves.moreThanTaken);
    if (once.status != WorkbookImport::Loaded)
        return;

    RuleModel rules;
    applyWorkbookRows(rules, once);
    FUZZ_EXPECT(rules.rowCount() == once.rows.size());
    if (rules.rowCount() >= kRuleRows && !findInvalidRule(rules).found())
        FUZZ_EXPECT(encodeTableImage(rules).size() == kImageSize);
}

}  // namespace vl::fuzz
