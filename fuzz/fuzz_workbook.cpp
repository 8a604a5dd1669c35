// Opens the input as a workbook and reads the displayed text of every cell, cell by cell and
// row by row (the two must agree), and the number of each that shows a plain decimal; a
// Failure is an accepted outcome, anything else (crash, hang, leak, overflow, a row read
// that differs from its cells) is a finding. The input
// goes through the same choice of reader by content as a file does, so one target covers
// .xls, .xlsx, .ods and .csv; each corpus is seeded with that format's fixtures.
#include "app/base/failure.h"
#include "workbook/readers/workbook.h"

#include <QByteArray>
#include <QLocale>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Checks each text of a row read against the same cell read on its own.
struct SameAsCells final : kalder::Workbook::RowReader {
    const kalder::Workbook* book = nullptr;
    int row = 0;
    QString alone;
    void cell(int column, QStringView text) override
    {
        book->cellText(row, column, alone);
        if (alone != text)
            std::abort();
        double v;
        book->plainNumber(row, column, v);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Russian, QLocale::Russia)}) {
        try {
            auto book = kalder::Workbook::fromBytes(bytes, QStringLiteral("fuzz"), locale);
            // the first 65,536 rows are read: further rows run the same lookups, and a sheet
            // whose one cell lies in row 1,048,576 is not walked row by row
            const int rows = std::min(book->lastRow(), 65536);
            SameAsCells check;
            check.book = book.get();
            QString text;
            for (int row = 1; row <= rows; ++row) {
                if (book->lastColumn(row) > 16384)
                    continue;
                check.row = row;
                book->readRow(row, check, text);
            }
            book->close();
        } catch (const kalder::Failure&) {
        }
    }
    return 0;
}
