#include "host_side.h"

#include <algorithm>

#include "link/host_thread.h"
#include "link_harness.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kStep{1};

void TakeAvailable(QenHandle port, std::vector<QenMsg>& items) {
    for (QenMsg msg = PatternMsg(); qen_GetMsg(port, &msg) == 1; msg = PatternMsg()) items.push_back(msg);
}

}  // namespace

bool AwaitHandOff(std::chrono::milliseconds within) {
    return host_thread::QueuedSignal().Wait(static_cast<std::uint32_t>(within.count()));
}

std::size_t NonAckBytes(std::string_view bytes) {
    return static_cast<std::size_t>(std::count_if(bytes.begin(), bytes.end(), [](char c) { return c != kAck; }));
}

std::vector<QenMsg> TakeUntilQuiet(DeviceDouble& device, QenHandle port, std::string& reply,
                                   std::chrono::milliseconds quiet) {
    std::vector<QenMsg> items;
    for (auto lastActivity = Clock::now(); Clock::now() - lastActivity < quiet;) {
        const std::size_t before = items.size() + reply.size();
        TakeAvailable(port, items);
        reply += device.Receive(SIZE_MAX, kStep);
        if (items.size() + reply.size() != before) lastActivity = Clock::now();
    }
    return items;
}

}  // namespace zentrok::test
