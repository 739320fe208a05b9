// zentrok-monitor --list: one line per port a host could open.
#include <cstdio>

#include "monitor/port_path.h"
#include "monitor/sessions.h"

namespace zentrok::monitor {

int RunList() {
    const std::vector<PortEntry> ports = ListPorts();
    bool unnumbered = false;
    for (const PortEntry& port : ports) {
        const std::string number = port.Number ? "COM" + std::to_string(port.Number) : "-";
        const std::string behind = port.Behind.empty() || port.Behind == port.Device ? "" : " -> " + port.Behind;
        std::printf("%-6s  %s%s  (%s)\n", number.c_str(), port.Device.c_str(), behind.c_str(), port.State.c_str());
        unnumbered = unnumbered || !port.Number;
    }
    if (unnumbered) std::fprintf(stderr, "zentrok-monitor: %s\n", UnnumberedHint().c_str());
    if (ports.empty()) std::fprintf(stderr, "zentrok-monitor: no serial port found that a host could open\n");
    return ports.empty() ? 1 : 0;
}

}  // namespace zentrok::monitor
