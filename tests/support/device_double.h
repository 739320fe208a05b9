// A stand-in for the device at the other end of a serial line: a pseudo
// terminal whose slave side the driver opens as port COM<n>. The test talks
// through the master side: it sends telegram bytes and reads the ACK bytes
// the driver answers with.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrok::test {

inline constexpr char kEndCharacter = 0x14;
inline constexpr char kAckByte = 0x06;

class DeviceDouble {
public:
    // Creates the pseudo terminal and links it as COM<portNumber> in the
    // process's port folder (ZENTROK_PORT_DIR, set on first use).
    explicit DeviceDouble(std::int32_t portNumber);
    ~DeviceDouble();
    DeviceDouble(const DeviceDouble&) = delete;
    DeviceDouble& operator=(const DeviceDouble&) = delete;

    std::int32_t PortNumber() const { return portNumber_; }

    // Writes the bytes on the line, all in one write where the line allows.
    void Send(std::string_view bytes);
    // Sends `text` followed by the end character.
    void SendTelegram(std::string_view text);

    // Bytes the driver sent: returns as soon as `count` have arrived, or
    // whatever arrived when `within` has passed.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // Everything the driver sends during `window`.
    std::string ReceiveFor(std::chrono::milliseconds window) { return Receive(SIZE_MAX, window); }

    // The line as the terminal holds it now (as the driver left it).
    termios SlaveAttributes() const;

    // Hangs up the line: the driver's side sees the device go away.
    void CloseMaster();

    // The folder holding the COM<n> links of this process.
    static const std::string& PortFolder();

private:
    std::int32_t portNumber_;
    int master_ = -1;
    int slave_ = -1;  // kept open so the line keeps its settings between opens
    std::string linkPath_;
};

}  // namespace zentrok::test
