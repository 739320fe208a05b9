#include <windows.h>

#include "monitor/port_path.h"

namespace zentrok::monitor {
namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";

}  // namespace

std::string PortDevicePath(int port) { return kDevicePrefix + ("COM" + std::to_string(port)); }

std::string PortOpenHint(const std::string&) { return "it does not exist or is in use by another program"; }

// A port that is open cannot be opened again to look; its DOS device name
// stays defined for as long as the port exists.
bool DevicePresent(const std::string& path) {
    char target[1024];
    const std::string name = path.substr(sizeof kDevicePrefix - 1);
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

}  // namespace zentrok::monitor
