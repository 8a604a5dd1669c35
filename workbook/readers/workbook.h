// A spreadsheet workbook opened for reading: the displayed text of the cells of the sheet that
// is active when the file opens. The sheet is decoded once at open; a cell read is a lookup
// and renders the cell's text in the workbook's number format. Cells may be read from several
// threads at once; open and close are the owner's alone.
#pragma once

#include <QLocale>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace kalder {

// The part of a sheet a caller reads, so that the rest is not decoded: the columns to keep,
// from 1 (empty: every column), and the rows up to the last one it reads (0: every row).
// The cells outside read as empty.
struct WorkbookPart {
    std::vector<int> columns;
    int rows = 0;
};

// A sheet read once from its top down, for a caller that needs each row only while it is in
// hand (the load): the .csv and .xlsx readers decode the file as the rows are asked for, the
// others open the workbook whole. Rows are asked for in order; a row may be asked for again,
// an earlier one no more. Texts and failures are those of Workbook for the same part.
class RowCursor {
public:
    virtual ~RowCursor() = default;

    // As Workbook::cellText and Workbook::plainNumber, for the row in hand or a later one.
    virtual void cellText(int row, int column, QString& out) = 0;
    QString cellText(int row, int column)
    {
        QString text;
        cellText(row, column, text);
        return text;
    }
    virtual bool plainNumber(int row, int column, double& value) = 0;
    virtual int maxRows() const = 0;
    virtual int maxColumns() const = 0;
    // Whether the rows given are as the sheet shows them; nothing while it is not known before
    // the end of the file (an .xlsx sheet lists its merged areas after its cells).
    virtual std::optional<bool> rowsStand() { return true; }
    // Reads the rest of the file, and fails as opening it whole would on what it finds there
    // (a damaged end, a checksum that does not match). False when the file hides, further on,
    // cells that the rows gave: they must then be read again from the workbook opened whole.
    // The rows are gone afterwards.
    [[nodiscard]] virtual bool finish() = 0;
};

class Workbook {
public:
    // The limits of an .xls sheet; other formats have their own (maxRows(), maxColumns()).
    static constexpr int MaxRows = 65536;
    static constexpr int MaxColumns = 256;

    using Part = WorkbookPart;

    // Opens the file; fails (Failure) on a missing file, a file that is not a workbook,
    // a password-protected or a damaged one. Texts are rendered for the given locale.
    static std::unique_ptr<Workbook> open(const QString& path, const QLocale& locale = QLocale::system(),
                                          const Part& part = {});
    // The rows of the same file, read from the top down (see RowCursor). Fails on opening as
    // open() does; a failure found further in the file comes with the row after the last good.
    static std::unique_ptr<RowCursor> openRows(const QString& path, const QLocale& locale = QLocale::system(),
                                               const Part& part = {});
    // The same for a file already read into memory; name only serves the failure texts.
    static std::unique_ptr<Workbook> fromBytes(const QByteArray& bytes, const QString& name,
                                               const QLocale& locale = QLocale::system(), const Part& part = {});
    virtual ~Workbook() = default;

    // The displayed text of a cell, rows and columns from 1; "" for an empty cell.
    // Row or column 0, or beyond maxRows() / maxColumns(), fails with err::Subscript.
    QString cellText(int row, int column) const
    {
        QString text;
        cellText(row, column, text);
        return text;
    }
    // The same into out, whose buffer is reused: reading many cells allocates nothing.
    virtual void cellText(int row, int column, QString& out) const = 0;

    // Receives the texts of a row, one call for each column from 1 to the row's last.
    class RowReader {
    public:
        virtual void cell(int column, QStringView text) = 0;

    protected:
        ~RowReader() = default;
    };
    // The texts of a row as cellText gives them, column after column, each valid until the
    // next (buffer may hold it): faster than reading each cell on its own. A row beyond
    // maxRows() fails as cellText does.
    virtual void readRow(int row, RowReader& reader, QString& buffer) const;

    // When a cell shows a plain decimal ([-]digits[<point>digits] in the locale's signs, no
    // leading zero but a lone one before the point): true, with the number that text reads
    // as, found without rendering it. False for every other cell, whose text tells.
    virtual bool plainNumber(int /*row*/, int /*column*/, double& /*value*/) const { return false; }

    // The last row that holds a cell (0 for an empty sheet) and the last column of a row
    // that holds a non-empty cell (0 when none).
    virtual int lastRow() const = 0;
    virtual int lastColumn(int row) const = 0;

    // The file format's limits of rows and columns.
    virtual int maxRows() const = 0;
    virtual int maxColumns() const = 0;

    // Releases the decoded sheet; cellText fails afterwards. Harmless twice.
    virtual void close() = 0;
};

} // namespace kalder
