#pragma once

// The rule table between files and the box, for the command-line tool: the same workbook
// reading, Set checks, image codec, record decoding and workbook saving the editor uses,
// with every refusal turned into one line of text instead of a message box.

#include "common/core/oneline.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace vl {
class RuleModel;
}

namespace vl::cli {

// The middle-C naming of a fresh editor (no stored preference): note 60 is "C3".
constexpr int kDefaultNaming = 1;

// Opens a workbook as the editor's Open does and puts its rows into `rules` (columns and
// titles as the workbook has them). On failure `rules` is untouched and `error` says why,
// in the editor's words where it has them. `notes` (may be null) gets what the editor's
// success box would add (rows not loaded), without the rules past the box's 3072, which
// the Set check names.
bool loadRuleWorkbook(const QString &path, RuleModel &rules, QString *error, QStringList *notes = nullptr);

// The image the editor's Set would send for `rules`. Refused, with the reason, when the
// table has fewer than 3072 rows or a complete rule holds a text the box cannot take (the
// row and column are named, as Set names them). `refusal` ends the reason ("Nothing was
// sent to the device."). Rules after row 3072 are never sent; `warning` names them.
bool imageForSet(const RuleModel &rules, const QString &refusal, QByteArray *image, QString *error,
                 QString *warning = nullptr);

// Checks that `bytes` is a whole table image: 24 844 bytes, "download request" at the
// start, "end of data" after the 3072 records and a checksum that matches them (unless
// `ignoreChecksum`). Gives the records as the editor's Read collects them.
bool recordsOfImage(const QByteArray &bytes, bool ignoreChecksum, QByteArrayList *groups, QString *error);

// Replaces the rows of `rules` by those the editor shows after its Read of an upload of
// 3072 records under middle-C naming `cnum` (the rows, then its controller-text pass).
// False when the upload is not a whole table.
bool applyUploadedRecords(RuleModel &rules, const QByteArrayList &groups, int cnum);

// The workbook the editor's Save writes for `rules`, with empty remarks, written whole or
// not at all; a character device or a FIFO named as `path` gets its bytes.
bool saveRuleWorkbook(const RuleModel &rules, const QString &path, QString *error);

// The table as tab-separated text: a line of column titles, then one line per row with
// the cell texts the editor shows.
QByteArray tableAsText(const RuleModel &rules);

}  // namespace vl::cli
