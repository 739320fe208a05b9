// A serial port as the reader sees it: the device, the port's input queue in
// front of it, and the wait for the end character that closes a telegram.
//
// Bytes move from the device into the queue whenever the reader waits or
// looks at the queue, and each is checked for the end character on its way.
// So the reader wakes when bytes arrive and for the stop, never for a
// notification of the serial stack that not every system gives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/input_queue.h"
#include "platform/platform.h"

namespace zentrok {

struct QueueStatus {
    bool Overflowed = false;    // this port's queue lost bytes since the last query
    std::uint32_t InQueue = 0;  // bytes waiting in the input queue
    platform::LineErrors Line;  // what the device reported since the last query
};

class FramedPort {
public:
    FramedPort(std::unique_ptr<platform::SerialPort> device, char endCharacter);

    // Arms the end-character wait. An end character that arrived while no
    // wait was armed completes the next armed one at once.
    void ArmEndWait() { armed_ = true; }

    enum class Wake { Stop, EndCharacter, TimedOut, DeviceGone };

    // Sleeps until `stop` is set, the armed wait completes, the device goes
    // away or `timeoutMs` passes; a stop goes before a telegram, a telegram
    // that has arrived whole before the device's going. Bytes without an end
    // character do not extend the wait. The armed wait stays armed on a
    // time-out.
    Wake WaitForEndOr(platform::Event& stop, std::uint32_t timeoutMs);

    // Closes the device that has gone away; what it left in the queue goes
    // with it. The port has no device until ReplaceDevice.
    void CloseDevice();
    // Takes the device opened again: the queue starts empty, and whatever the
    // device had buffered is discarded.
    void ReplaceDevice(std::unique_ptr<platform::SerialPort> device);
    bool HasDevice() const { return device_ != nullptr; }
    platform::SerialPort& Device() { return *device_; }

    // Reports and clears the overflow and the device's line errors, with the
    // queue's byte count.
    QueueStatus TakeQueueStatus();

    // Moves `count` queued bytes to `dest`; positions the queue cannot fill
    // are NUL.
    void Read(char* dest, std::uint32_t count);

    // Discards everything that has arrived.
    void PurgeInput();

    platform::SerialPort::WriteOutcome WriteByte(char byte, std::string* whyNot) {
        return device_->WriteByte(byte, whyNot);
    }

    bool DeviceGone(std::string* seen) { return device_->DeviceGone(seen); }

private:
    // Moves every byte the device has delivered into the queue.
    void TakeIn();

    std::unique_ptr<platform::SerialPort> device_;
    InputQueue queue_;
    char endCharacter_;
    bool endArrived_ = false;  // since the last completed wait
    bool armed_ = false;
};

}  // namespace zentrok
