// Opens the input as a workbook and reads the displayed text of every cell; a Failure is
// an accepted outcome, anything else (crash, hang, leak, overflow) is a finding. The input
// goes through the same choice of reader by content as a file does, so one target covers
// .xls, .xlsx, .ods and .csv; each corpus is seeded with that format's fixtures.
#include "app/failure.h"
#include "workbook/workbook.h"

#include <QByteArray>
#include <QLocale>

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Russian, QLocale::Russia)}) {
        try {
            auto book = kalder::Workbook::fromBytes(bytes, QStringLiteral("fuzz"), locale);
            // the first 65,536 rows are read: further rows run the same lookups, and a sheet
            // whose one cell lies in row 1,048,576 is not walked row by row
            const int rows = std::min(book->lastRow(), 65536);
            for (int row = 1; row <= rows; ++row)
                for (int col = 1, last = std::min(book->lastColumn(row), 16384); col <= last; ++col) book->cellText(row, col);
            book->close();
        } catch (const kalder::Failure&) {
        }
    }
    return 0;
}
