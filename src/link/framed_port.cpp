#include "link/framed_port.h"

#include <chrono>
#include <cstring>

namespace zentrok {
namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

}  // namespace

FramedPort::FramedPort(std::unique_ptr<platform::SerialPort> device, char endCharacter)
    : device_(std::move(device)), endCharacter_(endCharacter) {}

FramedPort::Wake FramedPort::WaitForEndOr(platform::Event& stop, std::uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        TakeIn();
        const bool completed = armed_ && endArrived_;
        // A completed wait still looks at the stop first, without sleeping.
        const auto wake = device_->WaitForInput(stop, completed ? 0 : MillisecondsLeft(deadline));
        if (wake == platform::SerialPort::Wake::Stop) return Wake::Stop;
        if (completed) {
            armed_ = false;
            endArrived_ = false;
            return Wake::EndCharacter;
        }
        if (wake == platform::SerialPort::Wake::Gone) return Wake::DeviceGone;
        if (wake == platform::SerialPort::Wake::TimedOut || Clock::now() >= deadline) return Wake::TimedOut;
    }
}

void FramedPort::CloseDevice() {
    device_.reset();
    queue_.Clear();
    queue_.TakeOverflow();
    endArrived_ = false;
}

void FramedPort::ReplaceDevice(std::unique_ptr<platform::SerialPort> device) {
    device_ = std::move(device);
    PurgeInput();
    queue_.TakeOverflow();
    endArrived_ = false;
}

QueueStatus FramedPort::TakeQueueStatus() {
    TakeIn();
    QueueStatus status;
    status.Overflowed = queue_.TakeOverflow();
    status.Line = device_->TakeLineErrors();
    status.InQueue = static_cast<std::uint32_t>(queue_.Size());
    return status;
}

void FramedPort::Read(char* dest, std::uint32_t count) {
    const std::size_t taken = queue_.Take(dest, count);
    std::memset(dest + taken, 0, count - taken);
}

void FramedPort::PurgeInput() {
    TakeIn();
    queue_.Clear();
    device_->DiscardInput();
}

// Every byte counts for the end-character wait, also one the full queue
// loses: the device did send it.
void FramedPort::TakeIn() {
    char bytes[1024];
    while (const std::size_t got = device_->TakeArrived(bytes, sizeof bytes)) {
        if (std::memchr(bytes, endCharacter_, got)) endArrived_ = true;
        queue_.Add(bytes, got);
    }
}

}  // namespace zentrok
