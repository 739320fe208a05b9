// The driver's name and the three fixed numbers it hands to a host.
#pragma once

#include <cstdint>

namespace zentrok {

inline constexpr char kDriverName[] = "ZENTROK";
inline constexpr std::int32_t kInfo1 = 65533;
inline constexpr std::int32_t kInfo2 = 2;
inline constexpr std::int32_t kInfo3 = 3;

}  // namespace zentrok
