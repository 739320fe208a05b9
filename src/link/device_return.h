// Waiting for a device that has gone away to come back: a USB adapter pulled
// and plugged in again, a hub that re-enumerated, a laptop that slept. The
// port stays open for the host all the while, so the device is opened anew
// under the same name and given the line settings it had at qen_InitComm
// (kept, not read from Rn.ini again: the host's current directory may have
// changed since).
//
// Tries come about once a second for the first minutes, then every few
// seconds, for as long as the host keeps the port open; each pause is a wait
// on the stop, so a close stays prompt. A device that opens but does not
// hold the line as it did after the first open (it cannot report it, or a
// setting differs) is not back yet. The trace tells each change of the reason a try
// fails, a summary now and then, and how long the device was away.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/line_status.h"
#include "link/trace.h"
#include "platform/platform.h"

namespace zentrok {

// Pauses between tries, in milliseconds, and when they lengthen.
inline constexpr std::uint32_t kReturnTryEarlyMs = 1000;
inline constexpr std::uint32_t kReturnTryLateMs = 5000;
inline constexpr std::uint32_t kReturnEarlyPeriodMs = 3 * 60 * 1000;
// How often the trace says the device is still away.
inline constexpr std::uint32_t kStillAwaySummaryMs = 60 * 1000;

class DeviceReturn {
public:
    // `first`: how the first open configured the device.
    DeviceReturn(std::int32_t portNumber, const platform::PortSetup& setup, const platform::ConfigureResult& first,
                 const Trace& trace, LineStatus& status)
        : portNumber_(portNumber), setup_(setup), first_(first), trace_(trace), status_(status) {}

    // Opens and configures the device again; null once `stop` is set first.
    std::unique_ptr<platform::SerialPort> Await(platform::Event& stop);

    // Applies the settings again to a device that is still open (after the
    // system slept); false when it does not hold them as at the first open.
    bool Reapply(platform::SerialPort& device, std::string& why) const;

private:
    // Opens the device and applies the settings; null, with `why` saying
    // what failed, when it is not usable.
    std::unique_ptr<platform::SerialPort> TryOpen(std::string& why) const;

    std::int32_t portNumber_;
    const platform::PortSetup& setup_;
    const platform::ConfigureResult& first_;
    const Trace& trace_;
    LineStatus& status_;
};

}  // namespace zentrok
