// libgsf, which reads the OLE2 containers of .xls and the zip packages of .xlsx and .ods; its
// header, included the one way it compiles beside Qt.
#pragma once

#include "workbook/readers/gsf_object.h"

// glib names a struct member "signals", a macro of Qt.
#pragma push_macro("signals")
#undef signals
#include <gsf/gsf.h>
#pragma pop_macro("signals")

namespace kalder {

// Starts the library once per process and keeps its own warnings off standard error: a damaged
// container is reported as a Failure, and the library's messages would only repeat it.
void startGsf();

} // namespace kalder
