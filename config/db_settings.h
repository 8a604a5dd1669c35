// The operator's working values in the first record of tblSettings.
#pragma once

#include "app/base/state.h"

#include <QVariant>

namespace kalder {

// False when the first record was read; the outputs are then set (each unless its own
// conversion failed). True when nothing was read; the outputs are unchanged.
bool get_Settings(const AppState& state, QString& lastFileName, qint32& strNumWithCapt, qint32& strNumMAX);
// Stores one value in the first record (made when the table is empty). Reports nothing.
void set_SettingValue(const AppState& state, const QString& field, const QVariant& value);

} // namespace kalder
