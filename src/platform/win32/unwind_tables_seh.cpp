// On x86-64 the system's own unwind tables (SEH, .pdata) serve every
// unwinder in the process, so there is nothing to register: the 32-bit DLL's
// DWARF tables are what unwind_tables.cpp is for.
#include "platform/win32/unwind_tables.h"

namespace zentrok::platform {

void RegisterUnwindTables() {}

}  // namespace zentrok::platform
