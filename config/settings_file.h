// settings.cfg in the application folder: the database path.
#pragma once

#include "app/state.h"
#include "window/controls/controls.h"

namespace kalder {

// The folder of the running executable; made the current directory by enterApplicationFolder.
QString applicationFolder();
void enterApplicationFolder();

// Reads settings.cfg into state.PathToDB. True: a failure was reported (titled "get_PathToDB").
bool get_PathToDB(AppState& state, Dialogs& dialogs);
// Rewrites settings.cfg as "PathToDB=" + the text of Text_PathToDB. Always false.
bool set_Settings(const TextBox& Text_PathToDB, Dialogs& dialogs);

} // namespace kalder
