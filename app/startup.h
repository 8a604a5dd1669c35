// Start-up: settings.cfg, the database session, and the main window.
#pragma once

#include "app/base/state.h"
#include "window/controls/controls.h"

#include <memory>

namespace kalder {

class FrmMain;

// True when a file (not a folder) matches the path; * and ? in the file name are honoured.
bool chk_FileExist(const QString& path);

// Reads settings.cfg, opens the database it names and makes the main window, loaded and
// ready to show. Returns nothing when settings.cfg could not be read: the program then
// ends without a window. dialogs shows the start-up messages and the window's.
std::unique_ptr<FrmMain> Main(AppState& state, Dialogs* dialogs = nullptr);

} // namespace kalder
