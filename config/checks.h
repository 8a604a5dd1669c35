// The number rule for row numbers and rule numbers, and the file dialog.
#pragma once

#include "window/controls/controls.h"

#include <QLocale>
#include <optional>

namespace kalder {

// The locale-aware conversion of a text to a 32-bit integer: blanks around it, a sign,
// a fraction rounded half to even. Nothing when it does not convert.
std::optional<qint32> toInt32(const QString& text, const QLocale& locale = QLocale::system());
// The locale-free leading-number reading: 12abc gives 12, abc gives 0; nothing when the
// rounded number lies beyond 32 bits.
std::optional<qint32> leadingInt32(const QString& text);
// A number rounded to the nearest integer, halves to even; nothing when it is not finite
// or the rounded value lies beyond 32 bits.
std::optional<qint32> roundToInt32(double value);

// False: accepted, the box's text rewritten in normal form. True: empty box (no message) or
// refused (message, focus back in the box, its text selected).
bool chk_TextNum(TextBox& box, Dialogs& dialogs, const QLocale& locale = QLocale::system());
// False: accepted. True: refused, after the message.
bool chk_StrNum(const QString& text, Dialogs& dialogs, const QLocale& locale = QLocale::system());

// The open-file or save-file dialog. filter: (description, pattern) pairs, each element
// ended by one NUL. Returns the chosen path, or "" on cancel (flags then unchanged).
QString dlg_FileName(qint32& flags, const std::optional<QString>& initialFolder, const QString& filter,
                     qint32 filterIndex, const QString& defaultExtension, const QString& fileName, const QString& title,
                     qint32 owner, bool openDialog, Dialogs& dialogs);

} // namespace kalder
