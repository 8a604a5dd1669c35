// The header analysis over the workbook reader. The texts are gathered first and the list is
// filled only after the workbook is closed, so a failure leaves the list empty.
#include "workbook/header_analysis.h"

#include "app/base/failure.h"
#include "workbook/readers/workbook.h"

#include <QList>
#include <QScopeGuard>
#include <memory>
#include <utility>

namespace kalder {

namespace {
constexpr int ScannedColumns = 255;
constexpr float ProgressMax = 256;
const QString Title = QStringLiteral("xls_FieldsName");
} // namespace

bool xls_FieldsName(ListView& lv_Fields, ProgressBar& pb, Pointer& pointer, Dialogs& dialogs, const QString& fileName,
                    qint32 headerRow, qint32 /*lastRow*/)
{
    bool result = false;
    std::unique_ptr<Workbook> book;
    bool started = false; // the empty-name return leaves the bar and the pointer as they are
    const auto cleanUp = qScopeGuard([&] {
        if (book)
            book->close();
        book.reset();
        if (!started)
            return;
        try { // a bar that refuses 0 must not hide the report already shown
            pb.setValue(0);
        } catch (const Failure&) {
        }
        pointer.set(Pointer::Default);
    });
    try {
        started = true;
        lv_Fields.clear();
        if (fileName.isEmpty()) {
            started = false;
            return false;
        }
        result = true;
        pointer.set(Pointer::Hourglass);
        book = Workbook::open(fileName, QLocale::system(), {{}, headerRow > 0 ? headerRow : 1});
        pb.setValue(0);
        pb.setMax(ProgressMax);

        QList<std::pair<QString, int>> headers;
        for (int c = 1; c <= ScannedColumns; ++c) {
            QString text = book->cellText(headerRow, c);
            if (!text.isEmpty())
                headers.append({std::move(text), c});
            pb.setValue(pb.value() + 1);
        }
        book->close();
        book.reset();

        // Each item goes in at the top, last column first, so the list reads left to right.
        for (qsizetype j = headers.size(); j >= 1; --j) {
            lv_Fields.add(1, headers[j - 1].first);
            lv_Fields.setSubItem(1, 1, QString::number(headers[j - 1].second));
        }
        if (!headers.isEmpty()) {
            lv_Fields.select(1);
            lv_Fields.ensureVisible(1);
        }
        result = false;
    } catch (const Failure& f) {
        dialogs.message(f.text(), Title, Dialogs::Icon::Exclamation);
    }
    return result;
}

} // namespace kalder
