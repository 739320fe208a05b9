// The host's side of a reliability test, played by the test's main thread,
// which is also the host thread and usually the device too.
//
// The programs link the driver's objects built with shortened reader waits;
// these are the waits they run with.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "device_double.h"
#include "link/comm_thread.h"
#include "link_harness.h"  // kIdleWait, kHandOffWait
#include "zentrok.h"

namespace zentrok::test {
// Generous for what must happen, even on a loaded machine under a sanitizer.
inline constexpr std::chrono::milliseconds kSettleWithin{5000};

// Waits until a reader asks the host thread to run a hand-off (true), or
// `within` passes. The hand-off itself is left to the next qen_GetMsg.
bool AwaitHandOff(std::chrono::milliseconds within = kSettleWithin);

// Number of bytes that are not ACK.
std::size_t NonAckBytes(std::string_view bytes);

// Acts as host for the port, taking everything, until nothing has been
// delivered or received for `quiet`. Returns the items taken.
std::vector<QenMsg> TakeUntilQuiet(DeviceDouble& device, QenHandle port, std::string& reply,
                                   std::chrono::milliseconds quiet);

}  // namespace zentrok::test
