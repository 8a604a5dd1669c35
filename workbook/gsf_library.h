// libgsf, which reads the OLE2 containers of .xls and the zip packages of .xlsx and .ods.
#pragma once

namespace kalder {

// Starts the library once per process and keeps its own warnings off standard error: a damaged
// container is reported as a Failure, and the library's messages would only repeat it.
void startGsf();

} // namespace kalder
