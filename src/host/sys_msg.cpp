#include "host/sys_msg.h"

#include "decode/conversions.h"

namespace zentrok {
namespace {

// A line that begins with `Prefix` writes `Mark` into the table entry
// numbered by the hexadecimal digit after the prefix.
struct EntryLine {
    std::string_view Prefix;
    std::uint8_t Mark;
};

constexpr EntryLine kEntryLines[] = {
    {"   R E", 0xFF},
    {"   A F", 0xFE},
};

// A line equal to `Line` sets (`Sets`) or clears the status bit `Bit`.
struct MaskLine {
    std::string_view Line;
    std::int32_t Bit;
    bool Sets;
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
    for (const EntryLine& entryLine : kEntryLines) {
        const std::size_t prefixLength = entryLine.Prefix.size();
        if (line.substr(0, prefixLength) != entryLine.Prefix) continue;
        // The character after the prefix numbers the entry; a line without a
        // hexadecimal digit there ends the call with nothing more changed.
        const int entry = line.size() > prefixLength ? HexDigit(line[prefixLength]) : -1;
        if (entry < 0) return;
        if (entry >= 1 && entry <= kStateTableSize && stateTable) stateTable[entry - 1] = entryLine.Mark;
    }
    for (const MaskLine& mask : kMaskLines) {
        if (line != mask.Line) continue;
        if (stateMask) *stateMask = mask.Sets ? (*stateMask | mask.Bit) : (*stateMask & ~mask.Bit);
        return;
    }
}

}  // namespace zentrok
