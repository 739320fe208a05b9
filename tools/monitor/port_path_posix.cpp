#include <sys/stat.h>

#include <cstdlib>

#include "monitor/port_path.h"

namespace zentrok::monitor {

std::string PortDevicePath(int port) {
    if (const char* dir = std::getenv("ZENTROK_PORT_DIR"); dir && *dir)
        return std::string(dir) + "/COM" + std::to_string(port);
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string PortOpenHint(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return "it does not exist";
    if (!S_ISCHR(info.st_mode)) return "it is not a terminal device";
    return "it is in use by another program, or not accessible to this user";
}

bool DevicePresent(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

}  // namespace zentrok::monitor
