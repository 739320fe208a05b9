// The start-up code of a DLL built with GCC registers the DLL's unwind tables
// (.eh_frame) with libgcc_s_dw2-1.dll when the host process has already
// loaded that DLL, and with the unwinder linked into the DLL only otherwise.
// This DLL throws and catches with the unwinder linked into it; in the first
// case that unwinder knows no tables, and the first exception, even one the
// DLL catches itself (out of memory, a thread that cannot start), would end
// the host process. So the DLL asks its own unwinder whether it finds the
// tables of its own code, and registers them with it only when it does not.
#include <windows.h>

#include "platform/win32/unwind_tables.h"

#include <cstdint>

extern "C" {
// The unwinder's registry (libgcc); `object` is its own bookkeeping.
void __register_frame_info(const void* begin, void* object);
// The unwinder's look-up of the table entry that covers `pc`.
struct dwarf_eh_bases {
    void* tbase;
    void* dbase;
    void* func;
};
const void* _Unwind_Find_FDE(void* pc, dwarf_eh_bases* bases);
extern IMAGE_DOS_HEADER __ImageBase;
extern const char zentrok_unwind_tables_marker[];
}

// A label inside this module's unwind tables: the section that holds it is
// where the tables begin.
asm(".section .eh_frame,\"dr\"\n"
    ".globl _zentrok_unwind_tables_marker\n"
    "_zentrok_unwind_tables_marker:\n"
    ".text\n");

namespace zentrok::platform {
namespace {

// Larger than the unwinder's record of a registered table, zero-filled.
alignas(16) std::uintptr_t gRegistration[32];

// The start of the loaded section that holds `address`, or null.
const char* SectionStart(const void* address) {
    const auto base = reinterpret_cast<const char*>(&__ImageBase);
    const auto headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        const char* start = base + section->VirtualAddress;
        if (address >= start && address < start + section->Misc.VirtualSize) return start;
    }
    return nullptr;
}

}  // namespace

void RegisterUnwindTables() {
    dwarf_eh_bases bases{};
    if (_Unwind_Find_FDE(reinterpret_cast<void*>(&RegisterUnwindTables), &bases)) return;
    if (const char* tables = SectionStart(zentrok_unwind_tables_marker)) __register_frame_info(tables, gRegistration);
}

}  // namespace zentrok::platform
