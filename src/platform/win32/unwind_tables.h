// The DLL's unwind tables and its own, statically linked unwinder.
#pragma once

namespace zentrok::platform {

// Called when the DLL is loaded, after its start-up code: makes sure the
// DLL's own unwinder knows the DLL's unwind tables, whatever other runtime
// the host process has loaded.
void RegisterUnwindTables();

}  // namespace zentrok::platform
