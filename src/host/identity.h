// What Qen_GetName reports: the driver's name and its three identity
// numbers, returned through Info1, Info2 and Info3. Nothing in the driver
// uses the numbers; what they mean is the host's business.
#pragma once

#include <cstdint>

namespace zentrok {

inline constexpr char kDriverName[] = "ZENTROK";
inline constexpr std::int32_t kInfo1 = 65533;
inline constexpr std::int32_t kInfo2 = 2;
inline constexpr std::int32_t kInfo3 = 3;

}  // namespace zentrok
