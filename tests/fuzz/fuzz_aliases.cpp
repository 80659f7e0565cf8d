// The alias file: any bytes as "./Aliases.txt". Reading the file and parsing its bytes
// give the same aliases, within the limits; the file the editor writes for them reads
// back as the same aliases.

#include "fuzzsupport.h"

#include "table/core/aliases.h"
#include "table/core/rulecolumns.h"

using namespace vl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QStringList aliases = parseAliasText(bytes);
    FUZZ_EXPECT(aliases.size() <= kMaxAliasLines);
    for (const QString &alias : aliases) {
        FUZZ_EXPECT(alias.size() <= kMaxAliasLength);
        FUZZ_EXPECT(!alias.contains(QLatin1Char('\n')) && !alias.contains(QLatin1Char('\r')));
        FUZZ_EXPECT(alias.isEmpty() || !alias.back().isHighSurrogate());
    }

    const AliasFileResult file = readAliasFile(fuzz::scratchFile(QStringLiteral("Aliases.txt"), bytes));
    FUZZ_EXPECT(file.status == AliasFileResult::Loaded);
    FUZZ_EXPECT(file.aliases == aliases);

    FUZZ_EXPECT(parseAliasText(aliasFileBytes(aliases)) == aliases);
    FUZZ_EXPECT(dmxEditorLabels(aliases).size() == kDmxChannels);
    return 0;
}
