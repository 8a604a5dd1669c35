#include "workbook/readers/cell_sheet.h"

#include "app/base/failure_catalogue.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

CellSheet::CellSheet(QString name, const QLocale& locale, int maxRows, int maxColumns, const Part& part)
    : m_name(std::move(name)), m_locale(locale), m_maxRows(maxRows), m_maxColumns(maxColumns),
      m_keptRows(quint32(part.rows > 0 && part.rows < maxRows ? part.rows : maxRows)), m_keptColumns(quint32(maxColumns))
{
    if (part.columns.empty()) return;
    m_kept.assign(size_t(maxColumns), false);
    for (int c : part.columns)
        if (c >= 1 && c <= maxColumns) m_kept[size_t(c - 1)] = true;
    m_keptColumns = quint32(std::count(m_kept.begin(), m_kept.end(), true));
    m_nextKept.assign(size_t(maxColumns) + 1, quint32(maxColumns));
    for (int c = maxColumns - 1; c >= 0; --c) m_nextKept[size_t(c)] = m_kept[size_t(c)] ? quint32(c) : m_nextKept[size_t(c) + 1];
}

void CellSheet::close()
{
    m_open = false;
    m_cells = {};
    m_rowStart = {};
    m_own.clear();
    m_longShared = {};
    m_formats = {};
    m_merged = {};
}

void CellSheet::damaged(const QString& what) const
{
    throw fail::bookDamaged(m_name, what);
}

CellSheet::TextPlace CellSheet::TextStore::add(QStringView text)
{
    const quint64 n = quint64(text.size()); // at most MaxCellText: within a block
    if (n == 0) return 0;
    if (m_used + n > blockChars) {
        m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(blockChars)); // untouched until written
        m_used = 0;
    }
    const quint64 at = (m_blocks.size() - 1) * blockChars + m_used;
    std::copy_n(text.utf16(), n, m_blocks.back().get() + m_used);
    m_used += n;
    return at << 16 | n;
}

CellSheet::TextPlace CellSheet::addText(quint32 row, quint32 col, quint32 xf, QStringView text)
{
    checkText(row, col, text.size());
    Cell* c = add(row, col, xf, Cell::Own);
    if (!c) return NoText; // a dropped cell's text is not kept
    countTextBytes(qint64(text.size()) * 2);
    c->text = m_own.add(text);
    return c->text;
}

void CellSheet::countTextBytes(qint64 bytes)
{
    m_textBytes += bytes;
    if (m_textBytes > MaxSheetTextBytes)
        throw Failure(err::BookNotWorkbook, u"Лист книги %1 больше допустимого: тексты его ячеек занимают более %2 МБ"_s.arg(m_name)
                                               .arg(MaxSheetTextBytes >> 20));
}

void CellSheet::textTooLong(quint32 row, quint32 col) const
{
    throw Failure(err::BookNotWorkbook, u"Ячейка (%1, %2) книги %3: текст длиннее %4 знаков, больше, чем вмещает ячейка"_s
                                           .arg(row + 1)
                                           .arg(col + 1)
                                           .arg(m_name)
                                           .arg(MaxCellText));
}

void CellSheet::checkShared(quint32 row, quint32 col, quint32 index) const
{
    if (keeps(row, col) && std::binary_search(m_longShared.begin(), m_longShared.end(), index)) textTooLong(row, col);
}

quint32 CellSheet::nextKeptColumn(quint32 col) const
{
    if (col >= quint32(m_maxColumns)) return quint32(m_maxColumns);
    return m_nextKept.empty() ? col : m_nextKept[col];
}

void CellSheet::addBoolean(quint32 row, quint32 col, quint32 xf, bool value)
{
    if (Cell* c = add(row, col, xf, Cell::Boolean)) c->small = value ? 1 : 0;
}

void CellSheet::addError(quint32 row, quint32 col, quint32 xf, quint8 code)
{
    if (Cell* c = add(row, col, xf, Cell::Error)) c->small = code;
}

void CellSheet::addMerged(quint32 row1, quint32 row2, quint32 col1, quint32 col2)
{
    constexpr size_t maxMergedRanges = 65536;
    if (m_merged.size() < maxMergedRanges && (row1 != row2 || col1 != col2))
        m_merged.push_back({row1, std::max(row1, row2), col1, std::max(col1, col2)});
}

void CellSheet::finish()
{
    // Sort by position; of two cells for one position the later wins.
    auto before = [](const Cell& a, const Cell& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; };
    if (!m_increasing) std::stable_sort(m_cells.begin(), m_cells.end(), before);
    // every cell shows unless two share a position, a text is empty or a merged area hides one
    const bool allShow = m_increasing && !m_ownTexts && m_merged.empty();

    // In a merged area only the top-left cell shows its text.
    for (const auto& m : m_merged) {
        auto it = std::lower_bound(m_cells.begin(), m_cells.end(), m[0], [](const Cell& c, quint32 r) { return c.row < r; });
        for (; it != m_cells.end() && it->row <= m[1]; ++it)
            if (it->col >= m[2] && it->col <= m[3] && !(it->row == m[0] && it->col == m[2])) it->kind = Cell::Empty;
    }
    m_merged = {};

    // One pass keeps the cells that show (the last of a position, no empty text, none hidden)
    // and notes where each row starts.
    // no shrink: the array's unused room was never touched, so it costs no memory
    const size_t n = m_cells.size();
    m_rowStart.assign(n > 0 ? size_t(m_cells.back().row) + 2 : 1, 0);
    size_t out = 0;
    quint32 nextRow = 0; // the first row whose start is not yet noted
    if (allShow) {
        for (; out < n; ++out)
            while (nextRow <= m_cells[out].row) m_rowStart[nextRow++] = quint32(out);
    } else {
        for (size_t i = 0; i < n; ++i) {
            const Cell& c = m_cells[i];
            if (i + 1 < n && m_cells[i + 1].row == c.row && m_cells[i + 1].col == c.col) continue;
            if (c.kind == Cell::Empty || (c.kind == Cell::Own && m_own.at(c.text).isEmpty())) continue;
            while (nextRow <= c.row) m_rowStart[nextRow++] = quint32(out);
            m_cells[out++] = c;
        }
    }
    m_cells.resize(out);
    m_lastRow = out > 0 ? int(m_cells.back().row) + 1 : 0;
    m_rowStart.resize(size_t(m_lastRow) + 1);
    m_rowStart[size_t(m_lastRow)] = quint32(out);
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
    if (!m_open) throw Failure(err::NotOpen, u"Книга %1 закрыта"_s.arg(m_name));
    if (row < 1 || row > m_maxRows || column < 1 || column > m_maxColumns)
        throw Failure(err::Subscript, u"Ячейка (%1, %2) вне листа книги %3"_s.arg(row).arg(column).arg(m_name));
}

// The cell at a position, checked; null for an empty one.
inline const CellSheet::Cell* CellSheet::find(int row, int column) const
{
    if (!m_open || row < 1 || row > m_maxRows || column < 1 || column > m_maxColumns) checkCell(row, column);
    if (row > m_lastRow) return nullptr;
    const quint16 col = quint16(column - 1);
    const auto begin = m_cells.begin() + m_rowStart[size_t(row - 1)];
    const auto end = m_cells.begin() + m_rowStart[size_t(row)];
    const auto it = std::lower_bound(begin, end, col, [](const Cell& c, quint16 k) { return c.col < k; });
    return it == end || it->col != col ? nullptr : &*it;
}

bool CellSheet::plainNumber(int row, int column, double& value) const
{
    const Cell* c = find(row, column);
    return c && c->kind == Cell::Number && formatOf(c->xf).plainNumber(c->number, m_locale, value);
}

void CellSheet::cellText(int row, int column, QString& out) const
{
    if (const Cell* c = find(row, column)) render(*c, out);
    else out.resize(0); // keeps the buffer
}

void CellSheet::readRow(int row, RowReader& reader, QString& buffer) const
{
    checkCell(row, 1);
    if (row > m_lastRow) return;
    TextBuilder number; // a number's text goes to the reader from where it is built
    int next = 1;       // the next column to give
    for (quint32 i = m_rowStart[size_t(row - 1)]; i < m_rowStart[size_t(row)]; ++i) {
        const Cell& c = m_cells[i];
        for (; next <= int(c.col); ++next) reader.cell(next, QStringView());
        if (c.kind == Cell::Number) {
            formatOf(c.xf).format(c.number, m_locale, m_date1904, number);
            reader.cell(next++, number.view());
        } else if (c.kind == Cell::Own && formatOf(c.xf).showsTextAsIs()) {
            reader.cell(next++, m_own.at(c.text)); // from where it is kept
        } else {
            render(c, buffer);
            reader.cell(next++, buffer);
        }
    }
}

void CellSheet::render(const Cell& cell, QString& out) const
{
    const NumberFormat& format = formatOf(cell.xf);
    switch (cell.kind) {
    case Cell::Number: format.format(cell.number, m_locale, m_date1904, out); break;
    case Cell::Shared:
        sharedText(cell.index, out);
        if (!format.showsTextAsIs()) out = format.formatText(out);
        break;
    case Cell::Own: {
        const QStringView text = m_own.at(cell.text);
        if (format.showsTextAsIs()) {
            out.resize(text.size()); // keeps the buffer
            std::copy_n(text.utf16(), text.size(), reinterpret_cast<char16_t*>(out.data()));
        } else {
            out = format.formatText(text.toString());
        }
        break;
    }
    case Cell::Boolean: out = booleanText(cell.small != 0, m_locale); break;
    case Cell::Error: out = errorText(cell.small, m_locale); break;
    default: out.resize(0); break; // keeps the buffer
    }
}

int CellSheet::lastColumn(int row) const
{
    checkCell(row, 1);
    if (row > m_lastRow) return 0;
    const quint32 a = m_rowStart[size_t(row - 1)], b = m_rowStart[size_t(row)];
    return a == b ? 0 : int(m_cells[b - 1].col) + 1;
}

} // namespace kalder
