// Feeds arbitrary system-status lines to the line decoder, and to the
// exported call with a length-prefixed buffer of exactly the line's size,
// and checks what must hold for any line: only the five status bits change,
// and at most one of them; the table only ever receives 0xFF or 0xFE, in at
// most one entry and never together with a mask change; SysValue becomes 2;
// and both ways agree.
//
// Input: one byte that fills the host's mask and table beforehand, then the
// line (at most 255 characters).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz_check.h"
#include "host/sys_msg.h"
#include "zentrok.h"

namespace {

using namespace zentrok;
using namespace zentrok::fuzz;

constexpr std::int32_t kStatusBits = 0x01 | 0x02 | 0x04 | 0x10 | 0x20;

bool AtMostOneBit(std::uint32_t bits) { return (bits & (bits - 1)) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t fill = data[0];
    const std::size_t length = size - 1 < 255 ? size - 1 : 255;
    const std::string_view line(reinterpret_cast<const char*>(data + 1), length);

    const auto maskBefore = static_cast<std::int32_t>(fill * 0x01010101u);
    std::uint8_t tableBefore[kStateTableSize];
    for (int i = 0; i < kStateTableSize; ++i) tableBefore[i] = static_cast<std::uint8_t>(fill + i);

    std::int32_t mask = maskBefore;
    std::uint8_t table[kStateTableSize];
    std::memcpy(table, tableBefore, sizeof table);
    DecodeSysLine(line, &mask, table);

    // Exactly the length byte and the line: a read past it is an overflow.
    const auto buffer = std::make_unique<std::uint8_t[]>(1 + length);
    buffer[0] = static_cast<std::uint8_t>(length);
    std::memcpy(buffer.get() + 1, line.data(), length);
    std::int32_t exportedMask = maskBefore;
    std::uint8_t exportedTable[kStateTableSize];
    std::memcpy(exportedTable, tableBefore, sizeof exportedTable);
    std::int32_t sysValue = -1;
    qen_GetSysMsg(buffer.get(), &exportedMask, exportedTable, &sysValue);

    Check(sysValue == 2, "SysValue is 2 after every call");
    Check(exportedMask == mask && std::memcmp(exportedTable, table, sizeof table) == 0,
          "the exported call decodes as the line decoder");

    const auto maskChange = static_cast<std::uint32_t>(mask ^ maskBefore);
    Check((maskChange & ~static_cast<std::uint32_t>(kStatusBits)) == 0, "only the five status bits change");
    Check(AtMostOneBit(maskChange), "a line changes at most one bit");
    int entriesChanged = 0;
    for (int i = 0; i < kStateTableSize; ++i) {
        if (table[i] == tableBefore[i]) continue;
        ++entriesChanged;
        Check(table[i] == 0xFF || table[i] == 0xFE, "the table receives only 0xFF or 0xFE");
    }
    Check(entriesChanged <= 1, "a line marks at most one entry");
    Check(entriesChanged == 0 || maskChange == 0, "a line changes the mask or the table, not both");
    if (length < 6) Check(maskChange == 0 && entriesChanged == 0, "a line shorter than six characters changes nothing");

    // Without the host's variables only SysValue is written.
    sysValue = -1;
    qen_GetSysMsg(buffer.get(), nullptr, nullptr, &sysValue);
    Check(sysValue == 2, "SysValue is 2 without mask and table too");
    return 0;
}
