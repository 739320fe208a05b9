// What the monitor says about the line settings of the port it opened.
#pragma once

#include <string>
#include <vector>

#include "link/line_settings.h"

namespace zentrok::monitor {

// "COM<port> = <device>, RecNr<n>: 9600 baud, 8 data bits, no parity, 1 stop
// bit, no flow control": the line as the device reports it after being
// configured from `report`. Then the configure calls that failed, one line
// per setting the device holds otherwise than Rn.ini asked ("Baud=12345:
// this line does not support that rate; it stays at 9600 baud"), the notes
// of the trace on values out of range or not a number (ValueNotes), and one
// line per reason that keys took their defaults (missing file, missing
// section, missing key).
std::vector<std::string> SettingsLines(int port, const std::string& device, const PortSetupReport& report,
                                       const platform::ConfigureResult& configured);

}  // namespace zentrok::monitor
