// System-status lines: "   A 03"-style lines switch bits of the host's
// status mask, "   R E<d>" and "   A F<d>" lines mark entries of its table.
#pragma once

#include <cstdint>
#include <string_view>

namespace zentrok {

inline constexpr int kStateTableSize = 14;

// Applies one line. Either pointer may be null; that effect is then skipped.
void DecodeSysLine(std::string_view line, std::int32_t* stateMask, std::uint8_t* stateTable);

}  // namespace zentrok
