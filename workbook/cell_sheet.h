// The decoded cells of one sheet, common to every reader: a sorted array of 16-byte cells
// (numbers as doubles, texts as indexes into the sheet's strings) with the cell formats of the
// workbook. A reader adds cells in any order while it decodes the file, then calls finish();
// the displayed text is rendered by the one number-format renderer only when a cell is read.
#pragma once

#include "workbook/big_buffer.h"
#include "workbook/number_format.h"
#include "workbook/workbook.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace kalder {

// The limits of an .xlsx, .ods or .csv sheet, as today's spreadsheet programs have them, and
// the most cells kept of one sheet (256 MB of the cell store).
constexpr int LargeSheetRows = 1048576;
constexpr int LargeSheetColumns = 16384;
constexpr qsizetype MaxSheetCells = 16 * 1024 * 1024;

class CellSheet : public Workbook {
public:
    // name serves the failure texts; maxRows and maxColumns are the file format's limits;
    // part: the columns and rows kept.
    CellSheet(QString name, const QLocale& locale, int maxRows, int maxColumns, const Part& part = {});

    using Workbook::cellText;
    void cellText(int row, int column, QString& out) const override;
    void readRow(int row, RowReader& reader, QString& buffer) const override;
    bool plainNumber(int row, int column, double& value) const override;
    int lastRow() const override { return m_open ? m_lastRow : 0; }
    int lastColumn(int row) const override;
    int maxRows() const override { return m_maxRows; }
    int maxColumns() const override { return m_maxColumns; }
    void close() override;

protected:
    // The number of cells about to be added, when the reader can tell, saves regrowing; no
    // more than the kept rows and columns can hold is set aside.
    // Rows and columns from 0; a cell beyond the limits is dropped. Of two cells added for
    // one position the later wins.
    void reserveCells(size_t count)
    {
        m_cells.reserve(std::min(count, size_t(m_keptRows) * size_t(m_keptColumns)));
    }
    void addNumber(quint32 row, quint32 col, quint32 xf, double value)
    {
        if (Cell* c = add(row, col, xf, Cell::Number)) c->number = value;
    }
    void addShared(quint32 row, quint32 col, quint32 xf, quint32 index) // index into the shared texts
    {
        if (!hasShared(index)) return;
        if (Cell* c = add(row, col, xf, Cell::Shared)) c->index = index;
    }
    // Returns the index of the text, which setText() may replace later (a formula's string).
    quint32 addText(quint32 row, quint32 col, quint32 xf, QString text);
    void setText(quint32 index, QString text) { m_own[index] = std::move(text); }
    void addBoolean(quint32 row, quint32 col, quint32 xf, bool value);
    void addError(quint32 row, quint32 col, quint32 xf, quint8 code);
    // A merged area, first and last row and column inclusive; only its top-left cell shows.
    void addMerged(quint32 row1, quint32 row2, quint32 col1, quint32 col2);
    // The shared texts of a format that has a table of them, which its reader keeps encoded
    // and decodes when a cell shows one. hasShared: a text that is not empty at index.
    virtual bool hasShared(quint32 /*index*/) const { return false; }
    virtual void sharedText(quint32 /*index*/, QString& out) const { out.resize(0); }
    // The number format of each cell format (xf) index; an index without one is General.
    void setCellFormats(std::vector<std::shared_ptr<NumberFormat>> formats) { m_formats = std::move(formats); }
    void setDate1904(bool on) { m_date1904 = on; }
    bool date1904() const { return m_date1904; }
    const QLocale& locale() const { return m_locale; }
    const QString& name() const { return m_name; }
    qsizetype cellCount() const { return qsizetype(m_cells.size()); }

    // Sorts the cells, drops duplicates, empty texts and the hidden cells of merged areas.
    void finish();

    [[noreturn]] void damaged(const QString& what) const;

private:
    struct Cell {
        enum Kind : quint8 { Empty, Number, Shared, Own, Boolean, Error };
        quint32 row : 24; // from 0
        quint32 kind : 8;
        quint16 col;
        quint16 xf;
        union {
            double number;
            quint32 index;
            quint8 small; // boolean value or error code
        };
    };
    static_assert(sizeof(Cell) == 16);

    Cell* add(quint32 row, quint32 col, quint32 xf, Cell::Kind kind)
    {
        if (row >= m_keptRows || col >= quint32(m_maxColumns)) return nullptr;
        if (!m_kept.empty() && !m_kept[col]) return nullptr;
        // most files give their cells in order, each once: finish() then need not sort
        const qint64 position = (qint64(row) << 16) | col;
        m_increasing = m_increasing && position > m_lastPosition;
        m_lastPosition = position;
        m_ownTexts = m_ownTexts || kind == Cell::Own;
        Cell c;
        c.row = row;
        c.kind = kind;
        c.col = quint16(col);
        c.xf = xf <= 0xFFFF ? quint16(xf) : 0;
        c.number = 0;
        return &m_cells.emplace_back(c);
    }
    void checkCell(int row, int column) const;
    const Cell* find(int row, int column) const;
    void render(const Cell& cell, QString& out) const;
    const NumberFormat& formatOf(quint16 xf) const;

    QString m_name;
    QLocale m_locale;
    int m_maxRows;
    int m_maxColumns;
    bool m_open = true;
    bool m_date1904 = false;
    std::vector<std::shared_ptr<NumberFormat>> m_formats;
    std::vector<QString> m_own;
    std::vector<Cell, BigAllocator<Cell>> m_cells;
    std::vector<std::array<quint32, 4>> m_merged;
    std::vector<bool> m_kept; // by column from 0; empty: every column
    quint32 m_keptRows;       // the rows kept, up to the format's limit
    quint32 m_keptColumns;    // how many columns are kept
    bool m_increasing = true; // every cell added after the one before it
    qint64 m_lastPosition = -1; // of the cell added last: its row, then its column
    bool m_ownTexts = false;  // a cell with a text of its own, which may be empty
    std::vector<quint32> m_rowStart; // m_rowStart[r] .. m_rowStart[r + 1]: cells of row r (from 0)
    int m_lastRow = 0;
};

} // namespace kalder
