// Line settings of a port, from its section "RecNr<n>" of "Rn.ini".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace zentrok {

inline constexpr char kConfigFileName[] = "Rn.ini";

// A configuration value as a signed 32-bit integer: decimal with an optional
// sign, or hexadecimal after "$", "x", "X", "0x" or "0X"; leading blanks are
// skipped. Anything else, or a value out of range, gives nothing.
std::optional<std::int32_t> ProfileInt(std::string_view text);

// Queue sizes, line settings and time-outs for a port opened with section
// number `recNumber`; missing or unreadable keys take their defaults.
platform::PortSetup ReadPortSetup(std::int32_t recNumber);

}  // namespace zentrok
