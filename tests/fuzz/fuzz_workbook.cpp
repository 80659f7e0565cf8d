// Whole workbook packages (.xlsx files) as Open File and `varilume-cli image` take them.

#include "workbookfuzz.h"

using namespace vl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::openAsTheEditorDoes(fuzz::scratchFile(QStringLiteral("book.xlsx"), fuzz::bytesOf(data, size)));
    return 0;
}
