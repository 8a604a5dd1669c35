// What tblData looks like: its record count and its fields, for the window.
#pragma once

#include "app/base/state.h"
#include "window/controls/controls.h"

namespace kalder {

// The number of records in tblData; 0 when it cannot be counted.
qint32 get_DBRecCount(const AppState& state);
// Adds one row per field of tblData to lv_DB (name, 1-based position), in field order,
// above the rows it already holds. Adds nothing when the table cannot be opened.
void get_FieldsNameDB(const AppState& state, ListView& lv_DB);

} // namespace kalder
