// The device behind a port number, as the driver opens it, for messages.
// Implemented once per platform (port_path_posix.cpp, port_path_win32.cpp).
#pragma once

#include <string>

namespace zentrok::monitor {

std::string PortDevicePath(int port);

// Why the device at `path` may not have opened, as far as can be told.
std::string PortOpenHint(const std::string& path);

// Whether the device at `path` is still there: a removed adapter or a closed
// pseudo-terminal is not; an unplugged cable cannot be seen.
bool DevicePresent(const std::string& path);

}  // namespace zentrok::monitor
