#include "host/sys_msg.h"

#include "decode/conversions.h"

namespace zentrok {
namespace {

struct EntryPrefix {
    std::string_view Prefix;
    std::uint8_t Value;
};

constexpr EntryPrefix kEntryPrefixes[] = {
    {"   R E", 0xFF},
    {"   A F", 0xFE},
};

struct MaskLine {
    std::string_view Line;
    std::int32_t Bit;
    bool Set;
};

constexpr MaskLine kMaskLines[] = {
    {"   A 03", 0x01, true}, {"   R 04", 0x01, false},  //
    {"   A 11", 0x02, true}, {"   R 12", 0x02, false},  //
    {"   A 17", 0x04, true}, {"   R 18", 0x04, false},  //
    {"   A 07", 0x10, true}, {"   R 08", 0x10, false},  //
    {"   A 15", 0x20, true}, {"   R 16", 0x20, false},
};

}  // namespace

void DecodeSysLine(std::string_view line, std::int32_t* stateMask, std::uint8_t* stateTable) {
    for (const EntryPrefix& entry : kEntryPrefixes) {
        if (line.substr(0, entry.Prefix.size()) != entry.Prefix) continue;
        // The character after the prefix numbers the entry; a line without a
        // hexadecimal digit there ends the call with nothing more changed.
        const int d = line.size() > entry.Prefix.size() ? HexDigit(line[entry.Prefix.size()]) : -1;
        if (d < 0) return;
        if (d >= 1 && d <= kStateTableSize && stateTable) stateTable[d - 1] = entry.Value;
    }
    for (const MaskLine& mask : kMaskLines) {
        if (line != mask.Line) continue;
        if (stateMask) *stateMask = mask.Set ? (*stateMask | mask.Bit) : (*stateMask & ~mask.Bit);
        return;
    }
}

}  // namespace zentrok
