#pragma once

// A small workbook document: exactly what the editor needs of .xlsx files. A new document
// is written with libxlsxwriter; an existing one is read with minizip and QXmlStreamReader.
// Rows and columns count from 1, as in a spreadsheet.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <map>
#include <memory>

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

// Bounds on what reading a workbook may take, so that a file built to exhaust memory is
// refused instead. The defaults are far beyond any rule workbook.
struct ReadLimits {
    qint64 maxPartBytes = 64LL * 1024 * 1024;  // unpacked size of one XML part
    int maxDepth = 64;                          // element nesting
    qint64 maxCells = 1000 * 1000;              // cells of a sheet, shared strings
    qint64 maxTextChars = 64LL * 1024 * 1024;   // text of a sheet or of the shared strings
    int parallelFromBytes = 256 * 1024;         // sheets this large are read in two halves at once
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
    // Every cell of the current sheet that read() gives a value for, by (row, column).
    std::map<std::pair<int, int>, QVariant> cells() const;
    // Writes a value into the current sheet (its text form). False outside the sheet's limits.
    bool write(int row, int column, const QVariant &value);
    bool addDataValidation(const DataValidation &validation);

    // Writes the workbook to `path` whole, or leaves whatever was there untouched.
    bool saveAs(const QString &path);

    // Limits of what a sheet may hold when read.
    static constexpr int kMaxRows = 1048576;
    static constexpr int kMaxColumns = 16384;

private:
    struct Sheet {
        QString name;
        QString part;  // the package part of a read sheet
        bool loaded = false;
        QHash<quint64, QVariant> cells;  // read from the package
        std::map<std::pair<int, int>, QString> written;  // written since, in row order
        QList<DataValidation> validations;
    };

    Sheet *current();
    const Sheet *current() const;
    bool loadSheet(Sheet &sheet);

    class Package;
    std::unique_ptr<Package> m_package;
    QList<Sheet> m_sheets;
    int m_current = -1;
    ReadLimits m_limits;
    QStringList m_sharedStrings;
    QString m_error;
};

// A number as its shortest decimal text: 5 gives "5", 2.01 gives "2.01".
QString numberText(double value);

}  // namespace vl::xlsx
