#include "monitor/port_path.h"

namespace zentrok::monitor {

std::string PortDevicePath(int port) { return "\\\\.\\COM" + std::to_string(port); }

std::string PortOpenHint(const std::string&) { return "it does not exist or is in use by another program"; }

}  // namespace zentrok::monitor
