// settings.cfg in the application folder, or in the user's config folder when the application
// folder cannot be written: the database path.
#pragma once

#include "app/base/state.h"
#include "window/controls/controls.h"

namespace kalder {

// The folder of the running executable.
QString applicationFolder();
// $XDG_CONFIG_HOME/kalder, or ~/.config/kalder when that variable is unset or not absolute.
QString userSettingsFolder();
// The folder of settings.cfg: the application folder when this user may create files in it,
// else userSettingsFolder() (an installed program, whose folder is /usr/bin). Both procedures
// below make it the current directory, so a relative PathToDB is resolved against it.
QString settingsFolder();
// Makes the settings folder the current directory; a failure is left to the procedures
// that rely on it, which enter the folder themselves.
void enterSettingsFolder();
// Tests point the application folder elsewhere; the empty text restores the executable's folder.
void setApplicationFolderForTesting(const QString& folder);

// The line grammar of settings.cfg applied to the file's bytes: the path the last matching
// line sets, or pathToDB when none does. A PATHTODB line without "=" fails with err::Subscript,
// a path longer than 32 KB with err::Overflow.
QString parsePathToDB(const QByteArray& bytes, QString pathToDB);

// Reads settings.cfg into state.PathToDB. True: a failure was reported (titled "get_PathToDB"),
// among them a file larger than 1 MB, of which no more than that is read. In the user's
// folder a missing settings.cfg is a first start: nothing is read, false.
bool get_PathToDB(AppState& state, Dialogs& dialogs);
// Rewrites settings.cfg as "PathToDB=" + the text of Text_PathToDB, making the user's folder
// when it is the settings folder and is missing. Always false.
bool set_Settings(const TextBox& Text_PathToDB, Dialogs& dialogs);

} // namespace kalder
