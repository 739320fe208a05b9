// The serial wire protocol as the device speaks it: what ends a telegram,
// what acknowledges one, how much one read takes and how long the reader
// waits. The driver, the tools, the benchmarks and the tests all take these
// from here.
#pragma once

#include <cstdint>

#include "decode/decoder_state.h"

namespace zentrok {

// Ends every telegram; the line's event character.
inline constexpr char kEndCharacter = 0x14;
// The driver's answer to a telegram it has dealt with.
inline constexpr char kAck = 0x06;

// One read takes at most the longest telegram and its end character.
inline constexpr std::uint32_t kMaxReadBytes = kMaxTelegramLength + 1;

// Time-outs of the reader, in milliseconds. Soak tests build the driver a
// second time with ZENTROK_WAIT_DIVISOR to shorten them; the library never is.
#ifndef ZENTROK_WAIT_DIVISOR
#define ZENTROK_WAIT_DIVISOR 1
#endif
inline constexpr std::uint32_t kIdleWaitMs = 2000 / ZENTROK_WAIT_DIVISOR;
inline constexpr std::uint32_t kHandOffWaitMs = 7000 / ZENTROK_WAIT_DIVISOR;

}  // namespace zentrok
