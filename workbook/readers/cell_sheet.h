// The decoded cells of one sheet, common to every reader: a sorted array of 16-byte cells
// (numbers as doubles, texts as places in the sheet's strings) with the cell formats of the
// workbook. A reader adds cells in any order while it decodes the file, then calls finish();
// the displayed text is rendered by the one number-format renderer only when a cell is read.
// The texts of cells are kept one after another in blocks, not as a string each, and within
// limits: a cell's text as long as a spreadsheet allows, the texts of a sheet in 512 MB.
// A reader may also give its rows as they are decoded (streamRows): it then decodes in a
// worker thread, and the cells go to the caller in batches of rows, none kept once read.
#pragma once

#include "workbook/readers/big_buffer.h"
#include "workbook/readers/number_format.h"
#include "workbook/readers/workbook.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace kalder {

// The limits of an .xlsx, .ods or .csv sheet, as today's spreadsheet programs have them, and
// the most cells kept of one sheet (256 MB of the cell store).
constexpr int LargeSheetRows = 1048576;
constexpr int LargeSheetColumns = 16384;
constexpr qsizetype MaxSheetCells = 16 * 1024 * 1024;
// The most characters of a cell's text, as in a spreadsheet; a longer one fails, naming the cell.
constexpr qsizetype MaxCellText = 32767;
// The most memory the texts of a sheet take: its cells' own and its shared table's together.
constexpr qint64 MaxSheetTextBytes = 512ll * 1024 * 1024;

class CellSheet : public Workbook {
public:
    // name serves the failure texts; maxRows and maxColumns are the file format's limits;
    // part: the columns and rows kept.
    CellSheet(QString name, const QLocale& locale, int maxRows, int maxColumns, const Part& part = {});

    using Workbook::cellText;
    void cellText(int row, int column, QString& out) const override;
    void readRow(int row, RowReader& reader, QString& buffer) const override;
    bool plainNumber(int row, int column, double& value) const override;
    int lastRow() const override { return m_open ? m_rows.lastRow : 0; }
    int lastColumn(int row) const override;
    int maxRows() const override { return m_maxRows; }
    int maxColumns() const override { return m_maxColumns; }
    void close() override;

    // The rows of a sheet as decode (the reader's whole decoding, run on sheet in a worker
    // thread) gives them, each batch of rows handed over as soon as it is decoded and dropped
    // once the caller has read past it. keep lives as long as the worker: what decode reads.
    // late: the format lists merged areas after the cells, so that whether the rows stand is
    // known only at the end (RowCursor::rowsStand).
    static std::unique_ptr<RowCursor> streamRows(std::unique_ptr<CellSheet> sheet,
                                                 std::function<void(CellSheet&)> decode,
                                                 std::shared_ptr<void> keep = {}, bool late = false);

protected:
    // The number of cells about to be added, when the reader can tell, saves regrowing; no
    // more than the kept rows and columns can hold is set aside.
    // Rows and columns from 0; a cell beyond the limits is dropped. Of two cells added for
    // one position the later wins.
    void reserveCells(size_t count)
    {
        if (!m_sink)
            m_rows.cells.reserve(std::min(count, size_t(m_keptRows) * size_t(m_keptColumns)));
    }
    void addNumber(quint32 row, quint32 col, quint32 xf, double value)
    {
        if (Cell* c = add(row, col, xf, Cell::Number))
            c->number = value;
    }
    void addShared(quint32 row, quint32 col, quint32 xf, quint32 index) // index into the shared texts
    {
        if (!hasShared(index)) {
            if (!m_longShared.empty())
                checkShared(row, col, index);
            return;
        }
        if (Cell* c = add(row, col, xf, Cell::Shared))
            c->index = index;
    }
    // A cell's own text, kept only when the cell is. Returns where the text is kept, which
    // addTextAgain() may show in other cells, or NoText for a cell that is dropped. A text
    // longer than MaxCellText fails, naming the cell.
    using TextPlace = quint64;
    static constexpr TextPlace NoText = ~TextPlace(0);
    TextPlace addText(quint32 row, quint32 col, quint32 xf, QStringView text);
    void addTextAgain(quint32 row, quint32 col, quint32 xf, TextPlace place)
    {
        if (Cell* c = add(row, col, xf, Cell::Own))
            c->text = place;
    }
    // Fails, naming the cell (rows and columns from 0), when a text of that many characters
    // is too long for a cell that is kept.
    void checkText(quint32 row, quint32 col, qsizetype length) const
    {
        if (length > MaxCellText && keeps(row, col))
            textTooLong(row, col);
    }
    // The cells kept: rows up to keptRows() and the columns of the part.
    bool keeps(quint32 row, quint32 col) const
    {
        return row < m_keptRows && col < quint32(m_maxColumns) && (m_kept.empty() || m_kept[col]);
    }
    quint32 keptRows() const { return m_keptRows; }
    // A cell that is not kept, which a reader passes over unread; of rows given as they are
    // decoded, its row may end the batch in hand as a kept cell's would.
    bool passes(quint32 row, quint32 col)
    {
        if (m_sink && row - m_rows.first >= m_batchRows && !nextBatch(row))
            return true;
        return !keeps(row, col);
    }
    // The first kept column at col or after it, from 0; the format's column limit when none is.
    quint32 nextKeptColumn(quint32 col) const;
    // Bytes of texts a reader keeps beside the cell store (its shared table), counted against
    // MaxSheetTextBytes with the cells' own texts.
    void countTextBytes(qint64 bytes);
    // A text of the shared table longer than MaxCellText, which its reader does not keep: a
    // kept cell that shows it fails, naming the cell.
    void markSharedTooLong(quint32 index) { m_longShared.push_back(index); }
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
    qsizetype cellCount() const { return m_cellsBefore + qsizetype(m_rows.cells.size()); }

    // Sorts the cells, drops duplicates, empty texts and the hidden cells of merged areas; of
    // rows given as they are decoded, hands over the last batch.
    void finish();

    [[noreturn]] void damaged(const QString& what) const;

private:
    // The cells' own texts, one after another in blocks that never move, so that growing
    // copies nothing; a cell holds its text's place: where it starts and its length.
    class TextStore {
    public:
        TextPlace add(QStringView text);
        QStringView at(TextPlace place) const
        {
            if ((place & 0xFFFF) == 0)
                return {};
            const quint64 at = place >> 16;
            return QStringView(m_blocks[size_t(at / blockChars)].get() + at % blockChars, qsizetype(place & 0xFFFF));
        }
        void clear() { *this = TextStore(); }
        // Empty, its blocks kept to be written again.
        void reuse()
        {
            m_inUse = 0;
            m_used = blockChars;
        }

    private:
        static constexpr quint64 blockChars = 1 << 20;
        std::vector<std::unique_ptr<char16_t[]>> m_blocks;
        size_t m_inUse = 0; // blocks written to
        quint64 m_used = blockChars; // of the last block written to
    };

    [[noreturn]] void textTooLong(quint32 row, quint32 col) const;
    void checkShared(quint32 row, quint32 col, quint32 index) const;

    struct Cell {
        enum Kind : quint8 { Empty, Number, Shared, Own, Boolean, Error };
        quint32 row : 24; // from 0
        quint32 kind : 8;
        quint16 col;
        quint16 xf;
        union {
            double number;
            quint32 index; // of a shared text
            TextPlace text; // of an own text
            quint8 small; // boolean value or error code
        };
    };
    static_assert(sizeof(Cell) == 16);

    // Cells of rows first .. end - 1 (from 0): the whole sheet, or a batch of the rows given
    // as they are decoded.
    struct Rows {
        std::vector<Cell, BigAllocator<Cell>> cells;
        TextStore own;
        std::vector<quint32> rowStart; // rowStart[r - first] .. rowStart[r - first + 1]: cells of row r
        quint32 first = 0;
        quint32 end = 0;
        int lastRow = 0; // the last that holds a cell, from 1; 0 when none
        bool increasing = true; // every cell added after the one before it
        qint64 lastPosition = -1; // of the cell added last: its row, then its column
        bool ownTexts = false; // a cell with a text of its own, which may be empty
        // Empty, for the rows from first on; the room it has stays.
        void reuse(quint32 from);
    };
    // Where the batches of rows decoded go (streamRows); the stream's own.
    class Stream;
    class Sink {
    public:
        // Takes a full batch and gives an empty one back.
        virtual Rows handOver(Rows&& full) = 0;

    protected:
        ~Sink() = default;
    };

    Cell* add(quint32 row, quint32 col, quint32 xf, Cell::Kind kind)
    {
        // a row beyond the batch in hand ends it
        if (m_sink && row - m_rows.first >= m_batchRows && !nextBatch(row))
            return nullptr;
        if (!keeps(row, col))
            return nullptr;
        // most files give their cells in order, each once: finish() then need not sort
        const qint64 position = (qint64(row) << 16) | col;
        m_rows.increasing = m_rows.increasing && position > m_rows.lastPosition;
        m_rows.lastPosition = position;
        m_rows.ownTexts = m_rows.ownTexts || kind == Cell::Own;
        Cell c;
        c.row = row & 0xFFFFFFu; // keeps() holds rows below every format's last, 2^20
        c.kind = kind;
        c.col = quint16(col);
        c.xf = xf <= 0xFFFF ? quint16(xf) : 0;
        c.number = 0;
        return &m_rows.cells.emplace_back(c);
    }
    bool nextBatch(quint32 row); // false: the row's place is in a batch handed over
    void handOver();
    // Of rows given as they are decoded: whether a merged area, which a sheet lists after its
    // cells, hides a cell already given.
    bool hidesGivenCells() const;
    void finishRows(Rows& rows);
    void checkCell(int row, int column) const;
    const Cell* find(const Rows& rows, int row, int column) const;
    void render(const Rows& rows, const Cell& cell, QString& out) const;
    const NumberFormat& formatOf(quint16 xf) const;

    QString m_name;
    QLocale m_locale;
    int m_maxRows;
    int m_maxColumns;
    bool m_open = true;
    bool m_date1904 = false;
    std::vector<std::shared_ptr<NumberFormat>> m_formats;
    qint64 m_textBytes = 0; // of the sheet's texts, as countTextBytes() counts them
    std::vector<quint32> m_longShared; // indexes of the shared texts too long for a cell, in order
    Rows m_rows;
    std::vector<std::array<quint32, 4>> m_merged;
    std::vector<bool> m_kept; // by column from 0; empty: every column
    std::vector<quint32> m_nextKept; // by column from 0: the first kept one there or after; empty: every column
    quint32 m_keptRows; // the rows kept, up to the format's limit
    quint32 m_keptColumns; // how many columns are kept
    Sink* m_sink = nullptr; // rows given as they are decoded: where their batches go
    quint32 m_batchRows = ~quint32(0); // the rows of a batch
    qsizetype m_cellsBefore = 0; // cells of the batches handed over
    // of the rows handed over, where merged areas come late: by kept column from 0, the rows
    // that show a cell, a bit each
    bool m_track = false;
    std::vector<std::pair<quint32, std::vector<quint64>>> m_given;
    bool m_stale = false; // a merged area hides a cell handed over, or a row came too late
};

} // namespace kalder
