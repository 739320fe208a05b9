// The line speeds a POSIX terminal takes, by their rate in baud.
#pragma once

#include <termios.h>

#include <cstdint>
#include <utility>

namespace zentrok::platform::posix {

inline constexpr std::pair<std::uint32_t, speed_t> kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// The speed code of `baud`; false when the terminal has none for it.
inline bool SpeedFor(std::uint32_t baud, speed_t& speed) {
    for (const auto& [rate, code] : kSpeeds) {
        if (rate == baud) {
            speed = code;
            return true;
        }
    }
    return false;
}

// The rate of speed code `speed`, or 0 for a code not in the table.
inline std::uint32_t RateOf(speed_t speed) {
    for (const auto& [rate, code] : kSpeeds)
        if (code == speed) return rate;
    return 0;
}

}  // namespace zentrok::platform::posix
