// Opens the input as a workbook and reads the displayed text of every cell; a Failure is
// an accepted outcome, anything else (crash, hang, leak, overflow) is a finding.
#include "app/failure.h"
#include "workbook/workbook.h"

#include <QByteArray>
#include <QLocale>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Russian, QLocale::Russia)}) {
        try {
            auto book = kalder::Workbook::fromBytes(bytes, QStringLiteral("fuzz.xls"), locale);
            const int rows = book->lastRow();
            for (int row = 1; row <= rows; ++row)
                for (int col = 1, last = book->lastColumn(row); col <= last; ++col) book->cellText(row, col);
            book->close();
        } catch (const kalder::Failure&) {
        }
    }
    return 0;
}
