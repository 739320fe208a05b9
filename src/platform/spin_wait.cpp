// The part of Signal that only touches memory; posix/ and win32/ give it the
// sleep.
#include <chrono>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

// Long enough for a partner on another core to answer, short enough to cost
// nothing when it does not.
constexpr auto kSpin = std::chrono::microseconds(50);

// Tells the processor that this is a wait loop, so that it spends less on it
// and lets a sibling hardware thread run.
inline void Relax() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

bool Signal::Check() {
    if (mode_ == Event::Mode::ManualReset) return set_.load();
    return set_.load() && set_.exchange(false);
}

bool Signal::Spin() {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    do {
        for (int i = 0; i < 64; ++i) {
            if (Check()) return true;
            Relax();
        }
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

// A waiter counts itself among the sleepers before it looks at the signal
// under the sleeper's lock, and Set stores the signal before it counts them:
// so either Set sees the sleeper and wakes it, or the sleeper sees the signal.
void Signal::Set() {
    set_.store(true);
    if (sleepers_.load() > 0) WakeSleepers();
}

bool Signal::Wait(std::uint32_t timeoutMs) {
    if (Spin()) return true;
    if (timeoutMs == 0) return false;
    ++sleepers_;
    const bool taken = Sleep(timeoutMs);
    --sleepers_;
    return taken;
}

}  // namespace zentrok::platform
