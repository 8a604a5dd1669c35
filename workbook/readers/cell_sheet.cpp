#include "workbook/readers/cell_sheet.h"

#include "app/base/failure_catalogue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

CellSheet::CellSheet(QString name, const QLocale& locale, int maxRows, int maxColumns, const Part& part)
    : m_name(std::move(name)), m_locale(locale), m_maxRows(maxRows), m_maxColumns(maxColumns),
      m_keptRows(quint32(part.rows > 0 && part.rows < maxRows ? part.rows : maxRows)),
      m_keptColumns(quint32(maxColumns))
{
    if (part.columns.empty())
        return;
    m_kept.assign(size_t(maxColumns), false);
    for (int c : part.columns)
        if (c >= 1 && c <= maxColumns)
            m_kept[size_t(c - 1)] = true;
    m_keptColumns = quint32(std::count(m_kept.begin(), m_kept.end(), true));
    m_nextKept.assign(size_t(maxColumns) + 1, quint32(maxColumns));
    for (int c = maxColumns - 1; c >= 0; --c)
        m_nextKept[size_t(c)] = m_kept[size_t(c)] ? quint32(c) : m_nextKept[size_t(c) + 1];
}

void CellSheet::close()
{
    m_open = false;
    m_rows = Rows();
    m_longShared = {};
    m_formats = {};
    m_merged = {};
}

void CellSheet::damaged(const QString& what) const { throw fail::bookDamaged(m_name, what); }

CellSheet::TextPlace CellSheet::TextStore::add(QStringView text)
{
    const quint64 n = quint64(text.size()); // at most MaxCellText: within a block
    if (n == 0)
        return 0;
    if (m_used + n > blockChars) {
        if (m_inUse == m_blocks.size())
            m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(blockChars)); // untouched until written
        ++m_inUse;
        m_used = 0;
    }
    const quint64 at = (m_inUse - 1) * blockChars + m_used;
    std::copy_n(text.utf16(), n, m_blocks[m_inUse - 1].get() + m_used);
    m_used += n;
    return at << 16 | n;
}

CellSheet::TextPlace CellSheet::addText(quint32 row, quint32 col, quint32 xf, QStringView text)
{
    checkText(row, col, text.size());
    Cell* c = add(row, col, xf, Cell::Own);
    if (!c)
        return NoText; // a dropped cell's text is not kept
    countTextBytes(qint64(text.size()) * 2);
    c->text = m_rows.own.add(text);
    return c->text;
}

void CellSheet::countTextBytes(qint64 bytes)
{
    m_textBytes += bytes;
    if (m_textBytes > MaxSheetTextBytes)
        throw Failure(err::BookNotWorkbook,
                      u"Лист книги %1 больше допустимого: тексты его ячеек занимают более %2 МБ"_s.arg(m_name).arg(
                          MaxSheetTextBytes >> 20));
}

void CellSheet::textTooLong(quint32 row, quint32 col) const
{
    throw Failure(err::BookNotWorkbook,
                  u"Ячейка (%1, %2) книги %3: текст длиннее %4 знаков, больше, чем вмещает ячейка"_s.arg(row + 1)
                      .arg(col + 1)
                      .arg(m_name)
                      .arg(MaxCellText));
}

void CellSheet::checkShared(quint32 row, quint32 col, quint32 index) const
{
    if (keeps(row, col) && std::binary_search(m_longShared.begin(), m_longShared.end(), index))
        textTooLong(row, col);
}

quint32 CellSheet::nextKeptColumn(quint32 col) const
{
    if (col >= quint32(m_maxColumns))
        return quint32(m_maxColumns);
    return m_nextKept.empty() ? col : m_nextKept[col];
}

void CellSheet::addBoolean(quint32 row, quint32 col, quint32 xf, bool value)
{
    if (Cell* c = add(row, col, xf, Cell::Boolean))
        c->small = value ? 1 : 0;
}

void CellSheet::addError(quint32 row, quint32 col, quint32 xf, quint8 code)
{
    if (Cell* c = add(row, col, xf, Cell::Error))
        c->small = code;
}

void CellSheet::addMerged(quint32 row1, quint32 row2, quint32 col1, quint32 col2)
{
    constexpr size_t maxMergedRanges = 65536;
    if (m_merged.size() < maxMergedRanges && (row1 != row2 || col1 != col2))
        m_merged.push_back({row1, std::max(row1, row2), col1, std::max(col1, col2)});
}

void CellSheet::Rows::reuse(quint32 from)
{
    cells.clear();
    own.reuse();
    rowStart.clear();
    first = from;
    end = from;
    lastRow = 0;
    increasing = true;
    lastPosition = -1;
    ownTexts = false;
}

void CellSheet::finish()
{
    if (m_sink) {
        // merged areas come after the cells: they hide cells of the batch in hand as they do
        // in a sheet read whole, and the caller learns whether they hide one handed over before
        const auto merged = m_merged;
        m_rows.end = quint32(m_maxRows);
        handOver();
        m_merged = merged;
        m_stale = m_stale || hidesGivenCells();
        m_merged = {};
        return;
    }
    finishRows(m_rows);
}

bool CellSheet::nextBatch(quint32 row)
{
    if (row < m_rows.first) {
        // a row written after later ones, where a batch before holds its place: the cell is
        // dropped, and the caller learns that the rows are to be read again
        if (row < m_keptRows)
            m_stale = true;
        return false;
    }
    m_rows.end = row;
    handOver();
    m_rows.reuse(row);
    return true;
}

void CellSheet::handOver()
{
    finishRows(m_rows);
    if (m_track)
        for (const Cell& c : m_rows.cells) {
            auto it = std::find_if(m_given.begin(), m_given.end(), [&](const auto& g) { return g.first == c.col; });
            if (it == m_given.end())
                it = m_given.insert(m_given.end(), {c.col, std::vector<quint64>((m_keptRows + 63) / 64)});
            it->second[c.row / 64] |= quint64(1) << (c.row % 64);
        }
    m_cellsBefore += qsizetype(m_rows.cells.size());
    m_rows = m_sink->handOver(std::move(m_rows));
}

bool CellSheet::hidesGivenCells() const
{
    // past a bound of work (a file of many large areas) the rows are taken as hidden: the
    // caller then reads the sheet whole, which is right in every case
    qint64 work = 0;
    constexpr qint64 maxWork = 64ll << 20;
    for (const auto& m : m_merged)
        for (const auto& [col, rows] : m_given) {
            if (col < m[2] || col > m[3])
                continue;
            const quint32 last = std::min<quint32>(m[1], m_keptRows - 1);
            for (quint32 r = m[0]; r <= last; ++r) {
                if (++work > maxWork)
                    return true;
                if (r % 64 == 0 && r + 63 <= last && rows[r / 64] == 0) {
                    r += 63;
                    continue;
                }
                if ((rows[r / 64] >> (r % 64) & 1) && !(r == m[0] && col == m[2]))
                    return true;
            }
        }
    return false;
}

void CellSheet::finishRows(Rows& rows)
{
    auto& cells = rows.cells;
    // Sort by position; of two cells for one position the later wins.
    auto before = [](const Cell& a, const Cell& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; };
    if (!rows.increasing)
        std::stable_sort(cells.begin(), cells.end(), before);
    // every cell shows unless two share a position, a text is empty or a merged area hides one
    const bool allShow = rows.increasing && !rows.ownTexts && m_merged.empty();

    // In a merged area only the top-left cell shows its text.
    for (const auto& m : m_merged) {
        auto it =
            std::lower_bound(cells.begin(), cells.end(), m[0], [](const Cell& c, quint32 r) { return c.row < r; });
        for (; it != cells.end() && it->row <= m[1]; ++it)
            if (it->col >= m[2] && it->col <= m[3] && !(it->row == m[0] && it->col == m[2]))
                it->kind = Cell::Empty;
    }
    m_merged = {};

    // One pass keeps the cells that show (the last of a position, no empty text, none hidden)
    // and notes where each row starts.
    // no shrink: the array's unused room was never touched, so it costs no memory
    const size_t n = cells.size();
    const quint32 first = rows.first;
    rows.rowStart.assign(n > 0 ? size_t(cells.back().row - first) + 2 : 1, 0);
    size_t out = 0;
    quint32 nextRow = first; // the first row whose start is not yet noted
    if (allShow) {
        for (; out < n; ++out)
            while (nextRow <= cells[out].row)
                rows.rowStart[nextRow++ - first] = quint32(out);
    } else {
        for (size_t i = 0; i < n; ++i) {
            const Cell& c = cells[i];
            if (i + 1 < n && cells[i + 1].row == c.row && cells[i + 1].col == c.col)
                continue;
            if (c.kind == Cell::Empty || (c.kind == Cell::Own && rows.own.at(c.text).isEmpty()))
                continue;
            while (nextRow <= c.row)
                rows.rowStart[nextRow++ - first] = quint32(out);
            cells[out++] = c;
        }
    }
    cells.resize(out);
    rows.lastRow = out > 0 ? int(cells.back().row) + 1 : 0;
    const size_t covered = out > 0 ? size_t(rows.lastRow) - first : 0;
    rows.rowStart.resize(covered + 1);
    rows.rowStart[covered] = quint32(out);
}

namespace {
const NumberFormat generalFormat;
}

inline const NumberFormat& CellSheet::formatOf(quint16 xf) const
{
    return xf < m_formats.size() && m_formats[xf] ? *m_formats[xf] : generalFormat;
}

void CellSheet::checkCell(int row, int column) const
{
    if (!m_open)
        throw Failure(err::NotOpen, u"Книга %1 закрыта"_s.arg(m_name));
    if (row < 1 || row > m_maxRows || column < 1 || column > m_maxColumns)
        throw Failure(err::Subscript, u"Ячейка (%1, %2) вне листа книги %3"_s.arg(row).arg(column).arg(m_name));
}

// The cell at a position, checked; null for an empty one.
inline const CellSheet::Cell* CellSheet::find(const Rows& rows, int row, int column) const
{
    if (!m_open || row < 1 || row > m_maxRows || column < 1 || column > m_maxColumns)
        checkCell(row, column);
    if (row > rows.lastRow || quint32(row - 1) < rows.first)
        return nullptr;
    const quint16 col = quint16(column - 1);
    const size_t r = size_t(quint32(row - 1) - rows.first);
    const auto begin = rows.cells.begin() + rows.rowStart[r];
    const auto end = rows.cells.begin() + rows.rowStart[r + 1];
    const auto it = std::lower_bound(begin, end, col, [](const Cell& c, quint16 k) { return c.col < k; });
    return it == end || it->col != col ? nullptr : &*it;
}

bool CellSheet::plainNumber(int row, int column, double& value) const
{
    const Cell* c = find(m_rows, row, column);
    return c && c->kind == Cell::Number && formatOf(c->xf).plainNumber(c->number, m_locale, value);
}

void CellSheet::cellText(int row, int column, QString& out) const
{
    if (const Cell* c = find(m_rows, row, column))
        render(m_rows, *c, out);
    else
        out.resize(0); // keeps the buffer
}

void CellSheet::readRow(int row, RowReader& reader, QString& buffer) const
{
    checkCell(row, 1);
    if (row > m_rows.lastRow)
        return;
    TextBuilder number; // a number's text goes to the reader from where it is built
    int next = 1; // the next column to give
    for (quint32 i = m_rows.rowStart[size_t(row - 1)]; i < m_rows.rowStart[size_t(row)]; ++i) {
        const Cell& c = m_rows.cells[i];
        for (; next <= int(c.col); ++next)
            reader.cell(next, QStringView());
        if (c.kind == Cell::Number) {
            formatOf(c.xf).format(c.number, m_locale, m_date1904, number);
            reader.cell(next++, number.view());
        } else if (c.kind == Cell::Own && formatOf(c.xf).showsTextAsIs()) {
            reader.cell(next++, m_rows.own.at(c.text)); // from where it is kept
        } else {
            render(m_rows, c, buffer);
            reader.cell(next++, buffer);
        }
    }
}

void CellSheet::render(const Rows& rows, const Cell& cell, QString& out) const
{
    const NumberFormat& format = formatOf(cell.xf);
    switch (cell.kind) {
    case Cell::Number:
        format.format(cell.number, m_locale, m_date1904, out);
        break;
    case Cell::Shared:
        sharedText(cell.index, out);
        if (!format.showsTextAsIs())
            out = format.formatText(out);
        break;
    case Cell::Own: {
        const QStringView text = rows.own.at(cell.text);
        if (format.showsTextAsIs()) {
            out.resize(text.size()); // keeps the buffer
            std::copy_n(text.utf16(), text.size(), reinterpret_cast<char16_t*>(out.data()));
        } else {
            out = format.formatText(text.toString());
        }
        break;
    }
    case Cell::Boolean:
        out = booleanText(cell.small != 0, m_locale);
        break;
    case Cell::Error:
        out = errorText(cell.small, m_locale);
        break;
    default:
        out.resize(0);
        break; // keeps the buffer
    }
}

int CellSheet::lastColumn(int row) const
{
    checkCell(row, 1);
    if (row > m_rows.lastRow)
        return 0;
    const quint32 a = m_rows.rowStart[size_t(row - 1)], b = m_rows.rowStart[size_t(row)];
    return a == b ? 0 : int(m_rows.cells[b - 1].col) + 1;
}

// The rows of a sheet as its reader decodes them in a worker thread: batches of rows in a
// short queue, so that decoding the file and merging its rows go on at once, and the memory
// taken is that of a few batches whatever the length of the sheet. Read batches go back to the
// reader to be filled again, so that their memory is touched once.
class CellSheet::Stream final : public RowCursor, private CellSheet::Sink {
public:
    Stream(std::unique_ptr<CellSheet> sheet, std::function<void(CellSheet&)> decode, std::shared_ptr<void> keep,
           bool late)
        : m_sheet(std::move(sheet)), m_keep(std::move(keep))
    {
        m_sheet->m_track = late;
        m_sheet->m_sink = this;
        m_sheet->m_batchRows = BatchRows;
        m_sheet->m_rows.reuse(0);
        m_current.end = 0;
        m_worker = std::thread([this, decode = std::move(decode)] { run(decode); });
    }

    ~Stream() override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_worker.join();
    }

    void cellText(int row, int column, QString& out) override
    {
        if (const Cell* c = at(row, column))
            m_sheet->render(m_current, *c, out);
        else
            out.resize(0); // keeps the buffer
    }

    bool plainNumber(int row, int column, double& value) override
    {
        const Cell* c = at(row, column);
        return c && c->kind == Cell::Number &&
               m_sheet->formatOf(c->xf).plainNumber(c->number, m_sheet->m_locale, value);
    }

    int maxRows() const override { return m_sheet->m_maxRows; }
    int maxColumns() const override { return m_sheet->m_maxColumns; }

    std::optional<bool> rowsStand() override
    {
        if (!m_sheet->m_track)
            return true;
        return std::nullopt; // known at the end of the file
    }

    bool finish() override
    {
        while (!m_ended)
            next();
        return !m_sheet->m_stale;
    }

private:
    static constexpr quint32 BatchRows = 4096;
    static constexpr size_t QueuedBatches = 4;

    // Thrown through the reader when the cursor goes before the file is read to its end.
    struct Stopped { };

    void run(const std::function<void(CellSheet&)>& decode)
    {
        std::optional<Failure> failure;
        try {
            decode(*m_sheet);
        } catch (const Stopped&) {
            return;
        } catch (const Failure& f) {
            failure = f;
        } catch (const std::bad_alloc&) {
            failure = Failure(err::BookNotWorkbook, u"Недостаточно памяти для чтения книги %1"_s.arg(m_sheet->m_name));
        } catch (const std::exception& e) {
            failure = Failure(err::BookNotWorkbook,
                              u"Книга %1 не прочитана: %2"_s.arg(m_sheet->m_name, QString::fromUtf8(e.what())));
        }
        {
            const std::lock_guard lock(m_mutex);
            m_failure = std::move(failure);
            m_done = true;
        }
        m_changed.notify_all();
    }

    Rows handOver(Rows&& full) override
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stop || m_queue.size() < QueuedBatches; });
        if (m_stop)
            throw Stopped();
        m_queue.push_back(std::move(full));
        Rows empty;
        if (!m_free.empty()) {
            empty = std::move(m_free.back());
            m_free.pop_back();
        }
        lock.unlock();
        m_changed.notify_all();
        return empty;
    }

    // The next batch into hand: the rows after the one in hand, or, once the reader is done,
    // its failure or the empty rows to the end of the sheet.
    void next()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_queue.empty() || m_done; });
        if (m_queue.empty()) {
            if (m_failure) {
                const Failure f = *m_failure;
                m_failure.reset();
                m_ended = true;
                m_current = Rows();
                throw f;
            }
            m_ended = true;
            m_current.reuse(m_current.end);
            m_current.end = ~quint32(0);
            return;
        }
        m_free.push_back(std::move(m_current));
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        m_changed.notify_all();
    }

    const Cell* at(int row, int column)
    {
        if (row < 1 || row > m_sheet->m_maxRows || column < 1 || column > m_sheet->m_maxColumns)
            m_sheet->checkCell(row, column);
        const quint32 r = quint32(row - 1);
        while (r >= m_current.end) {
            if (m_ended)
                return nullptr;
            next();
        }
        if (r < m_current.first)
            throw Failure(err::Subscript, u"Строка %1 книги %2 уже прочитана"_s.arg(row).arg(m_sheet->m_name));
        return m_sheet->find(m_current, row, column);
    }

    std::unique_ptr<CellSheet> m_sheet;
    std::shared_ptr<void> m_keep;
    Rows m_current; // the batch in hand
    bool m_ended = false; // the reader is done and every batch was in hand
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Rows> m_queue; // decoded, not yet in hand
    std::vector<Rows> m_free; // read, to be filled again
    bool m_stop = false;
    bool m_done = false;
    std::optional<Failure> m_failure;
    std::thread m_worker;
};

std::unique_ptr<RowCursor> CellSheet::streamRows(std::unique_ptr<CellSheet> sheet,
                                                 std::function<void(CellSheet&)> decode, std::shared_ptr<void> keep,
                                                 bool late)
{
    return std::make_unique<Stream>(std::move(sheet), std::move(decode), std::move(keep), late);
}

} // namespace kalder
