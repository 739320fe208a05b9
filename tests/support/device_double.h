// A stand-in for the device at the other end of a serial line: a pseudo
// terminal whose slave side the driver opens as port COM<n>. The test talks
// through the master side: it sends telegram bytes and reads the ACK bytes
// the driver answers with. POSIX builds link COM<n> into $ZENTROK_PORT_DIR.
//
// On POSIX builds the test owns the pseudo terminal itself. A Windows build
// runs under Wine, where the terminal lives on the Linux side: there the
// double reaches it through device_relay.py, which creates the terminal,
// links it into the Wine prefix as COM<n> and relays its bytes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/protocol.h"

namespace zentrok::test {

// The line settings as the terminal holds them.
struct LineState {
    std::uint32_t Baud = 0;
    bool TwoStopBits = false;
    bool RtsCts = false;
    bool XonXoffOut = false;  // the driver stops sending on XOFF
    bool XonXoffIn = false;   // the driver sends XOFF when its input fills
};

class DeviceDouble {
public:
    // Creates the pseudo terminal and makes it port COM<portNumber>.
    explicit DeviceDouble(std::int32_t portNumber);
    ~DeviceDouble();
    DeviceDouble(const DeviceDouble&) = delete;
    DeviceDouble& operator=(const DeviceDouble&) = delete;

    std::int32_t PortNumber() const { return portNumber_; }

    // Writes the bytes on the line, all in one write where the line allows.
    void Send(std::string_view bytes);
    // Sends `text` followed by the end character.
    void SendTelegram(std::string_view text);
    // Writes the bytes one at a time, `gap` apart, as a real line delivers
    // them (9600 baud is about one byte per millisecond).
    void Trickle(std::string_view bytes, std::chrono::milliseconds gap = std::chrono::milliseconds(1));

    // Bytes the driver sent: returns as soon as `count` have arrived, or
    // whatever arrived when `within` has passed.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // Everything the driver sends during `window`.
    std::string ReceiveFor(std::chrono::milliseconds window) { return Receive(SIZE_MAX, window); }

    // The line as the terminal holds it now (as the driver left it).
    LineState Line() const;

    // Hangs up the line: the driver's side sees the device go away.
    void CloseMaster();

    // A USB adapter pulled and plugged back: hangs up the line (unless
    // CloseMaster did), then makes a new pseudo terminal and links it as the
    // same COM<n>. From then on Send, Receive and Line use the new terminal;
    // the driver reaches it only by opening the port again.
    void Replug();

    struct Impl;

private:
    std::int32_t portNumber_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zentrok::test
