// The load: workbook rows below the header row merged into tblData under the links of lv.
#pragma once

#include "app/base/state.h"
#include "window/controls/controls.h"

#include <QLocale>
#include <QString>

namespace kalder {

// Rule texts of the link list: exact text, nothing trimmed.
inline const QString RuleKey = QStringLiteral("1");
inline const QString RuleMin = QStringLiteral("2");
inline const QString RuleMax = QStringLiteral("3");

// Loads rows headerRow + 1 to lastRow of the workbook into tblData under the links of ui.lv
// (rule "1" the key, "2" the minimum, "3" the maximum; the last link of a rule wins; a rule
// without a link is not applied). Numbers in the cells are read in the given locale.
//
// The caller has refused an empty link list and an empty fileName ("Не задано имя эксель
// файла") before calling; an empty fileName here loads nothing and returns true.
//
// False: the rows were loaded; the caller reports success. True: nothing more to show, for
// one of: the key warning was shown (no key link; nothing loaded), or a failure was reported
// in a message titled "xls_DataUpdate" (every row before the failing one is stored, and the
// counters show the records actually added). The workbook is closed on every path.
bool xls_DataUpdate(AppState& state, FormControls& ui, const QString& fileName, qint32 headerRow, qint32 lastRow,
                    const QLocale& locale = QLocale::system());

// Rehearses the same load without writing: the same checks and the same merge in a
// transaction that is taken back. report receives what the load would do: the rows read and
// skipped, the records it would add, widen or find unchanged, and every row it could not take
// (a minimum or maximum that is no number, a record the table refuses), where the load would
// stop at the first. False: the rehearsal ran to its end; true: a failure was reported in a
// message titled "xls_DataPreview" (or the key warning was shown). The counters stay as they are.
bool xls_DataPreview(AppState& state, FormControls& ui, const QString& fileName, qint32 headerRow, qint32 lastRow,
                     PreviewReport& report, const QLocale& locale = QLocale::system());

// The locale-free reading of a counter's text by its leading number: blanks ignored, "." the
// decimal point, 0 when it does not begin with a number.
double leadingNumber(const QString& text);
// A counter's text: no grouping, no decimal point for a whole number.
QString counterText(double value);

} // namespace kalder
