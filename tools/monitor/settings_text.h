// What the monitor says about the line settings of the port it opened and
// what the driver counted on it.
#pragma once

#include <string>
#include <vector>

#include "link/line_settings.h"
#include "zentrok.h"

namespace zentrok::monitor {

// The line settings a port's line state reports (read back from the device).
platform::LineSettings ReportedLine(const QenLineState& state);

// "COM<port> = <device>, RecNr<n>: 9600 baud, 8 data bits, no parity, 1 stop
// bit, no flow control": the line as the driver's qen_GetLineState reports
// it after configuring the device from `report`. Then one line per setting
// the device holds otherwise than Rn.ini asked ("Baud=12345: this line does
// not support that rate; it stays at 9600 baud"), the notes of the trace on
// values out of range or not a number (ValueNotes), and one line per reason
// that keys took their defaults (missing file, missing section, missing key).
std::vector<std::string> SettingsLines(int port, const std::string& device, const PortSetupReport& report,
                                       const QenLineState& state);

// "18 telegrams, 20 ACKs sent, 0 withdrawn, ...": the counters of a line state.
std::string CountersText(const QenLineState& state);

}  // namespace zentrok::monitor
