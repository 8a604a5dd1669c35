// Test support for loads in the test's own process: the window's controls as the load sees
// them; the database they load into is tests/support/database.h's.
#pragma once

#include "app/base/failure.h"
#include "app/base/state.h"
#include "db/connection.h"
#include "tests/support/database.h"
#include "tests/support/support.h"
#include "window/controls/memory_controls.h"
#include "workbook/data_load.h"
#include "workbook/readers/workbook.h"

namespace kalder::test {

using namespace Qt::StringLiterals;

// The window's controls as the load sees them, with the link rows given as "rule:column:field".
struct Form {
    MemoryTextBox fileName, headerRow, lastRow, count{u"0"_s}, countNew{u"0"_s};
    MemoryListView lv, lvFields, lvDB;
    MemoryProgressBar pb;
    MemoryPointer pointer;
    test::RecordingDialogs dialogs;
    FormControls ui;

    explicit Form(const QStringList& links = {})
    {
        ui.Text_FileName = &fileName;
        ui.Text_StrNumWithCapt = &headerRow;
        ui.Text_StrNumMAX = &lastRow;
        ui.Text_DBRecordCount = &count;
        ui.Text_DBRecordCountNew = &countNew;
        ui.lv = &lv;
        ui.lv_Fields = &lvFields;
        ui.lv_DB = &lvDB;
        ui.pb = &pb;
        ui.pointer = &pointer;
        ui.dialogs = &dialogs;
        for (const QString& link : links) {
            const QStringList p = link.split(QLatin1Char(':'));
            const int row = lv.count() + 1;
            lv.add(row, p.value(0));
            lv.setSubItem(row, 1, p.value(1));
            lv.setSubItem(row, 2, QString());
            lv.setSubItem(row, 3, p.value(2));
            lv.setSubItem(row, 4, QString());
        }
    }

    // Loads as the window does after an analysis of the same workbook: each link's workbook
    // field is the text of its column in the header row (none for a file that cannot be read).
    void linkHeaders(const QString& file, int header, const QLocale& locale)
    {
        std::unique_ptr<Workbook> book;
        try {
            book = Workbook::open(file, locale);
        } catch (const Failure&) {
        }
        for (int i = 1; book && header >= 1 && i <= lv.count(); ++i) {
            bool ok = false;
            const int col = lv.subItem(i, 1).toInt(&ok);
            if (ok && col >= 1 && col <= book->maxColumns())
                lv.setSubItem(i, 2, book->cellText(header, col));
        }
    }
    bool update(AppState& state, const QString& file, int header, int last, const QLocale& locale)
    {
        linkHeaders(file, header, locale);
        return xls_DataUpdate(state, ui, file, header, last, locale);
    }
    bool preview(AppState& state, const QString& file, int header, int last, PreviewReport& report,
                 const QLocale& locale)
    {
        linkHeaders(file, header, locale);
        return xls_DataPreview(state, ui, file, header, last, report, locale);
    }
};

} // namespace kalder::test
