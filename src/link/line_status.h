// What a host may learn of a port's line while the reader works it: whether
// the device is there, when it went and when the last telegram came, the
// settings the device took, and counters since the port was opened.
//
// The reader writes, any host thread reads (qen_GetLineState), and neither
// ever waits for the other: counters and times are atomics, and the settings
// change only when the device is opened, under a lock held for a copy.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"
#include "zentrok.h"

namespace zentrok {

class LineStatus {
public:
    using Counter = std::atomic<std::uint32_t>;

    // Reader: the device is open, holding `configured`.
    void DeviceOpened(const platform::ConfigureResult& configured);
    // Reader: the device has gone away.
    void DeviceWent();
    // Reader: a telegram has arrived.
    void TelegramArrived();

    bool DevicePresent() const { return present_; }
    // Milliseconds since the device went; 0 while it is there.
    std::uint32_t AwayMs() const;

    Counter Telegrams{0};
    Counter AcksSent{0};
    Counter Withdrawn{0};
    Counter DiscardedTelegrams{0};
    Counter LineErrors{0};
    Counter Reopens{0};
    Counter LogLinesNotWritten{0};

    // Any thread: the state as the host's record holds it.
    void Fill(QenLineState& state) const;

private:
    using Clock = std::chrono::steady_clock;
    static std::int64_t NowMs();

    std::atomic<bool> present_{false};
    std::atomic<std::int64_t> wentAtMs_{0};
    std::atomic<std::int64_t> lastTelegramMs_{-1};  // -1: none yet
    mutable std::mutex settingsLock_;
    platform::ConfigureResult settings_;
};

}  // namespace zentrok
