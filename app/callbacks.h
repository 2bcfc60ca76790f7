// The one table that binds the callback names of the resource file to the program's functions.
#pragma once

namespace qv {

// Installs the table in the run-time; LoadPanel resolves names through it.
void InstallCallbackTable();

} // namespace qv
