// The handlers of the main window's buttons and row-number boxes.
#pragma once

#include "app/base/state.h"
#include "window/controls/controls.h"

namespace kalder {

void Command_SelectFile_Click(AppState& state, FormControls& ui);
void Command_SetPathToDB_Click(AppState& state, FormControls& ui);
void Command_Analize_Click(AppState& state, FormControls& ui);
void Command_Update_Click(AppState& state, FormControls& ui);
// The load rehearsed without writing, its findings shown in the preview window.
void Command_Preview_Click(AppState& state, FormControls& ui);
// The last load into tblData taken back, after the operator confirms it.
void Command_Undo_Click(AppState& state, FormControls& ui);
void Text_StrNumMAX_LostFocus(AppState& state, FormControls& ui);
void Text_StrNumWithCapt_LostFocus(AppState& state, FormControls& ui);

} // namespace kalder
