// Which device a port number opens on a POSIX system: port n is the link
// COM<n> in the folder $ZENTROK_PORT_DIR when that variable is set, and
// otherwise the serial device /dev/ttyS<n-1>. The driver opens these names,
// the monitor lists them and the simulator makes the links.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

namespace zentrok::platform::posix {

inline constexpr char kPortDirVariable[] = "ZENTROK_PORT_DIR";
inline constexpr char kPortLinkPrefix[] = "COM";
inline constexpr char kSerialDevicePrefix[] = "ttyS";  // under /dev

// The folder of port links, or "" when none is set.
inline std::string PortDir() {
    const char* dir = std::getenv(kPortDirVariable);
    return dir ? dir : "";
}

// Port `number`'s link in the folder `dir`.
inline std::string PortLinkPath(const std::string& dir, std::int64_t number) {
    return dir + "/" + kPortLinkPrefix + std::to_string(number);
}

// The port that opens /dev/ttyS<index>.
inline std::int64_t PortOfSerialDevice(std::int64_t index) { return index + 1; }

// The device port `number` opens.
inline std::string PortDevicePath(std::int64_t number) {
    const std::string dir = PortDir();
    if (!dir.empty()) return PortLinkPath(dir, number);
    return std::string("/dev/") + kSerialDevicePrefix + std::to_string(number - 1);
}

}  // namespace zentrok::platform::posix
