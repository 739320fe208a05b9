#include "host/sys_msg.h"

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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

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
