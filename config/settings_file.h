// settings.cfg in the application folder: the database path.
#pragma once

#include "app/state.h"
#include "window/controls/controls.h"

namespace kalder {

// The folder of the running executable; made the current directory by enterApplicationFolder.
QString applicationFolder();
// Makes the application folder the current directory; a failure is left to the procedures
// that rely on it, which enter the folder themselves.
void enterApplicationFolder();
// Tests point the application folder elsewhere; the empty text restores the executable's folder.
void setApplicationFolderForTesting(const QString& folder);

// The line grammar of settings.cfg applied to the file's bytes: the path the last matching
// line sets, or pathToDB when none does. A PATHTODB line without "=" fails with err::Subscript.
QString parsePathToDB(const QByteArray& bytes, QString pathToDB);

// Reads settings.cfg into state.PathToDB. True: a failure was reported (titled "get_PathToDB").
bool get_PathToDB(AppState& state, Dialogs& dialogs);
// Rewrites settings.cfg as "PathToDB=" + the text of Text_PathToDB. Always false.
bool set_Settings(const TextBox& Text_PathToDB, Dialogs& dialogs);

} // namespace kalder
