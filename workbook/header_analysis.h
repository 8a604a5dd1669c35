// The header analysis: the displayed texts of the header row of a workbook, listed with
// their column numbers in lv_Fields, from which the operator links fields for the load.
#pragma once

#include "window/controls/controls.h"

#include <QString>

namespace kalder {

// Clears lv_Fields, then lists every non-empty cell of columns 1 to 255 of the header row,
// in column order, with its column number; the first item selected and scrolled into view.
// An empty fileName does nothing more and returns false. True: a failure was reported in a
// message titled "xls_FieldsName". The workbook is closed on every path, before the list is
// filled; lastRow is accepted and not used.
bool xls_FieldsName(ListView& lv_Fields, ProgressBar& pb, Pointer& pointer, Dialogs& dialogs, const QString& fileName,
                    qint32 headerRow, qint32 lastRow);

} // namespace kalder
