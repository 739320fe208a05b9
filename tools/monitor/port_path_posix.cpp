// Ports on Linux: the COM<n> links of $ZENTROK_PORT_DIR when it is set,
// otherwise the serial devices under /dev, with their /dev/serial/by-id names.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include "monitor/port_path.h"
#include "platform/platform.h"
#include "platform/posix/port_names.h"

namespace zentrok::monitor {
namespace {

constexpr int kHighestPort = 255;
constexpr const char* kDeviceFamilies[] = {platform::posix::kSerialDevicePrefix, "ttyUSB", "ttyACM"};

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* listing = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(listing)) names.emplace_back(entry->d_name);
        closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}

const char* StateOf(platform::OpenFailure reason) {
    return reason == platform::OpenFailure::InUse          ? "in use"
           : reason == platform::OpenFailure::AccessDenied ? "access denied"
                                                           : nullptr;
}

// Opens port `number` as the driver would; false when it is no port to list.
bool ProbeNumber(int number, PortEntry& entry) {
    platform::OpenError why;
    if (platform::SerialPort::Open(number, &why)) {
        entry.State = "free";
        return true;
    }
    const char* state = StateOf(why.Reason);
    if (state) entry.State = state;
    return state != nullptr;
}

// A device no port number reaches, opened and locked as the driver does.
bool ProbeDevice(const std::string& path, PortEntry& entry) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        entry.State = errno == EBUSY ? "in use" : errno == EACCES || errno == EPERM ? "access denied" : "";
        return !entry.State.empty();
    }
    entry.State = isatty(fd) ? (flock(fd, LOCK_EX | LOCK_NB) == 0 ? "free" : "in use") : "";
    close(fd);
    return !entry.State.empty();
}

// The by-id names of each device, by the device's real path.
std::map<std::string, std::string> ByIdNames() {
    std::map<std::string, std::string> names;
    const std::string dir = "/dev/serial/by-id";
    for (const std::string& name : Names(dir)) {
        if (name[0] == '.') continue;
        std::string& known = names[RealPath(dir + "/" + name)];
        known += (known.empty() ? "" : ", ") + dir + "/" + name;
    }
    return names;
}

int NumberOf(const std::string& name, const std::string& prefix) {
    if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size() || name.size() > prefix.size() + 3) return 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return 0;
    return std::atoi(name.c_str() + prefix.size());
}

std::vector<PortEntry> ListLinks(const std::string& dir) {
    std::vector<std::pair<int, PortEntry>> found;
    for (const std::string& name : Names(dir)) {
        const int number = NumberOf(name, platform::posix::kPortLinkPrefix);
        PortEntry entry;
        if (number < 1 || number > kHighestPort || !ProbeNumber(number, entry)) continue;
        entry.Number = number;
        entry.Device = platform::SerialPort::DeviceName(number);
        entry.Behind = RealPath(entry.Device);
        found.emplace_back(number, entry);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PortEntry> ports;
    for (auto& [number, entry] : found) ports.push_back(std::move(entry));
    return ports;
}

std::vector<PortEntry> ListDevices() {
    const std::map<std::string, std::string> byId = ByIdNames();
    std::vector<PortEntry> numbered, unnumbered;
    for (const char* family : kDeviceFamilies) {
        std::vector<std::pair<int, std::string>> devices;
        for (const std::string& name : Names("/dev"))
            if (NumberOf(name, family) || name == std::string(family) + "0")
                devices.emplace_back(NumberOf(name, family), name);
        std::sort(devices.begin(), devices.end());
        for (const auto& [index, name] : devices) {
            PortEntry entry;
            entry.Device = "/dev/" + name;
            const auto names = byId.find(entry.Device);
            if (names != byId.end()) entry.Behind = names->second;
            // Only the devices the driver's port numbers open have a number.
            const int number = static_cast<int>(platform::posix::PortOfSerialDevice(index));
            const bool reachable =
                std::string(family) == platform::posix::kSerialDevicePrefix && number <= kHighestPort;
            if (reachable ? !ProbeNumber(number, entry) : !ProbeDevice(entry.Device, entry)) continue;
            entry.Number = reachable ? number : 0;
            (reachable ? numbered : unnumbered).push_back(std::move(entry));
        }
    }
    numbered.insert(numbered.end(), unnumbered.begin(), unnumbered.end());
    return numbered;
}

}  // namespace

std::vector<PortEntry> ListPorts() {
    if (const std::string dir = platform::posix::PortDir(); !dir.empty()) return ListLinks(dir);
    return ListDevices();
}

std::string UnnumberedHint() {
    return "a device without a COM number becomes port <n> through a link DIR/COM<n> to it and ZENTROK_PORT_DIR=DIR "
           "in the host's environment";
}

std::string FolderProblem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return errno == ENOENT ? "it does not exist" : std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return "it is not a folder";
    if (access(path.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return "";
}

}  // namespace zentrok::monitor
