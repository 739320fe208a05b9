// The ports of this machine as the monitor shows them, and the folder of the
// telegram log. Implemented once per
// platform (port_path_posix.cpp, port_path_win32.cpp); the device behind a
// port number is the driver's own rule (platform::SerialPort::DeviceName).
#pragma once

#include <string>
#include <vector>

namespace zentrok::monitor {

// A port that a host could open.
struct PortEntry {
    int Number = 0;      // its COM number; 0 when no number reaches it as things stand
    std::string Device;  // what the driver opens for that number, or the device itself
    std::string Behind;  // the device behind it (a link's target, other names); "" when none is known
    std::string State;   // "free", "in use" or "access denied"
};

// The ports that can be opened, by COM number, then the devices no number
// reaches. Ports that do not open for other reasons (no hardware behind a
// device node) are left out.
std::vector<PortEntry> ListPorts();

// How a device that no COM number reaches can be made a port; "" when every
// device is reachable.
std::string UnnumberedHint();

// Why the driver cannot write its telegram log into the folder `path`: "it
// does not exist", "it is not a folder", the system's reason it may not be
// written; "" when nothing is known against it.
std::string FolderProblem(const std::string& path);

}  // namespace zentrok::monitor
