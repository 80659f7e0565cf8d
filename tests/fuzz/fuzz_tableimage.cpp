// The table image decoder: a file or an upload of 24 844 bytes, or (for any other size)
// the input taken as the start of a record area inside a well-formed image. A decoded
// table that Set accepts, encoded as Set sends it and decoded again, shows the same texts.

#include "fuzzsupport.h"

#include "cli/tablefiles.h"
#include "device/core/protocol.h"
#include "device/core/tableimage.h"
#include "table/core/rulemodel.h"

using namespace vl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytesOf(data, size);
    const bool raw = input.size() == kImageSize;
    const QByteArray records = input.left(kRecordAreaSize).leftJustified(kRecordAreaSize, '\0');
    const QByteArray image = raw ? input : buildTableImage(records);
    // Records the editor writes end in a zero byte, so no marker fits in them; one that does
    // restarts or ends the collection, as it would in an upload.
    const bool markerInRecords = records.contains(msg::imageStart) || records.contains(msg::imageEnd);

    QByteArrayList strictGroups, groups;
    QString strictError, error;
    const bool strict = cli::recordsOfImage(image, false, &strictGroups, &strictError);
    const bool lax = cli::recordsOfImage(image, true, &groups, &error);
    FUZZ_EXPECT(strict || !strictError.isEmpty());
    FUZZ_EXPECT(!strict || (lax && strictGroups == groups));  // the checksum only refuses more
    FUZZ_EXPECT(raw || strict || markerInRecords);            // a built image is whole
    if (!lax) {
        FUZZ_EXPECT(!error.isEmpty());
        return 0;
    }

    const int cnum = 1 + int(size % 3);
    RuleModel table;
    FUZZ_EXPECT(cli::applyUploadedRecords(table, groups, cnum));
    FUZZ_EXPECT(table.rowCount() == kRuleRows);
    const QByteArray shown = cli::tableAsText(table);

    if (findInvalidRule(table).found())
        return 0;  // Set refuses it and names the cell
    const QByteArray again = encodeTableImage(table);
    FUZZ_EXPECT(again.size() == kImageSize);
    QByteArrayList groupsAgain;
    FUZZ_EXPECT(cli::recordsOfImage(again, false, &groupsAgain, &error));
    RuleModel tableAgain;
    FUZZ_EXPECT(cli::applyUploadedRecords(tableAgain, groupsAgain, cnum));
    FUZZ_EXPECT_SAME(cli::tableAsText(tableAgain), shown);
    return 0;
}
