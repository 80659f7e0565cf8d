#pragma once

// A small workbook document: exactly what the editor needs of .xlsx files. A new document
// is written with libxlsxwriter; an existing one is unpacked with minizip and its XML read
// with our own scanner (xmlscanner.h). Rows and columns count from 1, as in a spreadsheet.

#include "common/core/safefile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <vector>

namespace vl::xlsx {

struct DataValidation {
    enum Type { WholeNumber, List, Custom };
    enum Operator { Between };
    enum ErrorStyle { Stop, Warning, Information };

    Type type = WholeNumber;
    Operator op = Between;
    // As a spreadsheet stores them: numbers ("1"), a quoted list ("\"ON,OFF\"") or a formula.
    QString formula1;
    QString formula2;
    bool allowBlank = true;
    QString promptTitle;
    QString prompt;
    bool showPrompt = false;
    QString errorTitle;
    QString error;
    bool showError = false;
    ErrorStyle errorStyle = Stop;
    int firstRow = 1;
    int firstColumn = 1;
    int lastRow = 1;
    int lastColumn = 1;
};

// Limits of what a sheet may hold when read.
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
// The longest text a cell holds.
constexpr int kMaxCellText = 32767;

// Bounds on what reading a workbook may take, so that a file built to exhaust memory or
// time is refused or read only in part. The defaults are far beyond any rule workbook.
struct ReadLimits {
    qint64 maxPartBytes = 64LL * 1024 * 1024;  // unpacked size of one XML part
    int maxDepth = 64;                         // element nesting, for every element
    qint64 maxCells = 1000 * 1000;             // cells kept from a sheet, shared strings
    qint64 maxTextChars = 64LL * 1024 * 1024;  // UTF-8 bytes of text kept from a sheet or the shared strings
    int parallelFromBytes = 256 * 1024;        // sheets this large are read in two halves at once
    // Cells right of this column are passed over without reading their values.
    int maxColumns = kMaxColumns;
    // Reading a sheet stops at the first value in a row below this one; the document
    // then says so (Document::stoppedAtRowLimit()).
    int maxRows = kMaxRows;
};

// One cell of a sheet with a value: a QString for text, a double for a number, a bool for a
// logical value.
struct SheetCell {
    int row = 0;
    int column = 0;
    QVariant value;
    bool operator==(const SheetCell &o) const { return row == o.row && column == o.column && value == o.value; }
};

// What reading one worksheet part gave.
struct SheetRead {
    bool ok = false;
    QString error;                 // why not, when !ok
    std::vector<SheetCell> cells;  // in the order the part holds them (a later one of a place wins)
    bool stoppedAtRowLimit = false;
    bool readInHalves = false;  // the two halves were used (otherwise one pass)
};

enum class SheetPass {
    Auto,     // two halves at once for parts of ReadLimits::parallelFromBytes or more
    OnePass,  // always one pass
    Halves,   // two halves whatever the size, unless the part cannot be cut safely
};

// Reads the cells of a worksheet part (its XML bytes as unpacked). A large part is read as
// two halves on two threads; the halves are used only when they give exactly what one pass
// gives (the same `ok`, cells and row-limit stop for every input), otherwise the part is
// read again in one pass. `cutFrom` (a byte offset, -1 for the middle) is where the search
// for the second half's first row begins. Tests and fuzzing compare the passes with this.
SheetRead readSheetXml(const QByteArray &xml, const QStringList &sharedStrings, const ReadLimits &limits,
                       SheetPass pass = SheetPass::Auto, qint64 cutFrom = -1);

// Why a save failed, as far as the file system tells.
enum class SaveFailure { None, NoSpace, ReadOnlyFileSystem, NoFolder, NotPermitted, Other };

// A text that a save had to cut to the longest text a cell holds.
struct CutText {
    int row = 0;
    int column = 0;
    int length = 0;  // the text's length before the cut
};

class Document {
public:
    // A new, empty workbook with one sheet, "Sheet1".
    Document();
    // Opens an existing workbook for reading. Check isOpen(); errorString() says why not.
    explicit Document(const QString &path, const ReadLimits &limits = ReadLimits());
    ~Document();
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;

    bool isOpen() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    // Sheet names in the workbook's own order.
    QStringList sheetNames() const;
    // Makes a sheet the current one; reading a workbook's sheet happens here. False when
    // there is no such sheet or it cannot be read (see errorString()).
    bool selectSheet(const QString &name);
    bool renameSheet(const QString &oldName, const QString &newName);
    QString currentSheet() const;

    // The value of a cell of the current sheet: a QString for text, a double for a number,
    // a bool for a logical value; an invalid QVariant for an empty cell.
    QVariant read(int row, int column) const;
    // Rows of the current sheet that hold a value, ascending.
    QList<int> rowsWithValues() const;
    // Reading the current sheet stopped at a value beyond ReadLimits::maxRows.
    bool stoppedAtRowLimit() const;

    // Writes a value into the current sheet: a double as a number, anything else as its
    // text. False outside the sheet's limits.
    bool write(int row, int column, const QVariant &value);
    bool addDataValidation(const DataValidation &validation);

    // Writes the workbook to `path` whole, or leaves whatever was there untouched. Texts
    // keep every character: those a workbook cannot hold as they are go in the escaped
    // form spreadsheet programs read ("_x0001_"); a text longer than a cell holds is cut
    // (see cutTexts()). A device or a FIFO gets the workbook's bytes only with
    // SpecialTarget::Stream (see writeFileWhole()).
    bool saveAs(const QString &path, SpecialTarget special = SpecialTarget::Refuse);
    SaveFailure saveFailure() const { return m_saveFailure; }
    // Texts the last save cut.
    QList<CutText> cutTexts() const { return m_cutTexts; }

private:
    struct Written {
        int row;
        int column;
        bool isNumber;
        double number;
        QString text;
    };
    struct Sheet {
        QString name;
        QString part;  // the package part of a read sheet
        bool loaded = false;
        std::vector<SheetCell> cells;  // read from the package, by row and column
        bool stoppedAtRowLimit = false;
        std::vector<Written> written;  // written since
        bool writtenInOrder = true;
        QList<DataValidation> validations;
    };

    Sheet *current();
    const Sheet *current() const;
    bool loadSheet(Sheet &sheet);
    bool buildPackage(QByteArray *bytes);

    class Package;
    std::unique_ptr<Package> m_package;
    QList<Sheet> m_sheets;
    int m_current = -1;
    ReadLimits m_limits;
    QStringList m_sharedStrings;
    QString m_error;
    SaveFailure m_saveFailure = SaveFailure::None;
    QList<CutText> m_cutTexts;
};

// A number as its shortest decimal text: 5 gives "5", 2.01 gives "2.01".
QString numberText(double value);

// The form in which a text is stored in a cell, and back: characters XML cannot hold and
// underscores that would read as the start of such an escape become "_xHHHH_" (CR too,
// which XML would turn into LF). toCellText also cuts the stored form to the longest text
// a cell holds, never inside an escape or a surrogate pair, and says whether it did.
QString toCellText(const QString &text, bool *cut = nullptr);
QString fromCellText(const QString &stored);

// A column's letters: 1 gives "A", 28 gives "AB".
QString columnName(int column);

}  // namespace vl::xlsx
