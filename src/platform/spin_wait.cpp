#include <chrono>

#include "platform/platform.h"

namespace zentrok::platform {

// Long enough for a partner on another core to answer, short enough to cost
// nothing when it does not.
constexpr auto kSpin = std::chrono::microseconds(50);

bool SpinThenWait(Event& event, std::uint32_t timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    do {
        if (event.Wait(0)) return true;
    } while (std::chrono::steady_clock::now() < until);
    return event.Wait(timeoutMs);
}

}  // namespace zentrok::platform
