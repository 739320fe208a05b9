#include "link/device_return.h"

#include <chrono>

#include "link/line_settings.h"

namespace zentrok {
namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t MsSince(Clock::time_point start) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

bool DeviceReturn::Reapply(platform::SerialPort& device, std::string& why) const {
    const platform::ConfigureResult result = device.Configure(setup_);
    if (first_.ReadBack && !result.ReadBack) {
        why = "the device does not report its settings: " + result.FailedCalls;
        return false;
    }
    if (first_.ReadBack) {
        for (const LineDifference& difference : LineDifferences(first_.Reported, result.Reported))
            why += (why.empty() ? "the device holds " : ", ") + difference.Reported;
        if (!why.empty()) return false;
    }
    status_.DeviceOpened(result);
    return true;
}

std::unique_ptr<platform::SerialPort> DeviceReturn::TryOpen(std::string& why) const {
    platform::OpenError openError;
    auto device = platform::SerialPort::Open(portNumber_, &openError);
    if (!device) {
        why = Trace::OpenFailureText(openError);
        return nullptr;
    }
    return Reapply(*device, why) ? std::move(device) : nullptr;
}

std::unique_ptr<platform::SerialPort> DeviceReturn::Await(platform::Event& stop) {
    const auto start = Clock::now();
    std::string lastWhy;
    std::uint64_t tries = 0;
    std::uint64_t nextSummaryMs = kStillAwaySummaryMs;
    for (;;) {
        const std::uint32_t pause = MsSince(start) < kReturnEarlyPeriodMs ? kReturnTryEarlyMs : kReturnTryLateMs;
        if (stop.Wait(pause)) return nullptr;
        ++tries;
        std::string why;
        if (auto device = TryOpen(why)) {
            ++status_.Reopens;
            trace_.DeviceBack(MsSince(start), tries);
            return device;
        }
        if (why != lastWhy) trace_.StillAway(why, MsSince(start), tries, true);
        lastWhy = why;
        if (MsSince(start) >= nextSummaryMs) {
            trace_.StillAway(why, MsSince(start), tries, false);
            nextSummaryMs += kStillAwaySummaryMs;
        }
    }
}

}  // namespace zentrok
