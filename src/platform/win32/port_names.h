// Which device a port number opens on Windows: port n is \\.\COM<n>.
#pragma once

#include <cstdint>
#include <string>

namespace zentrok::platform::win32 {

inline std::string PortDevicePath(std::int64_t number) { return "\\\\.\\COM" + std::to_string(number); }

}  // namespace zentrok::platform::win32
