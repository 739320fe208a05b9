// Line settings of a port, from its section "RecNr<n>" of "Rn.ini".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace zentrok {

inline constexpr char kConfigFileName[] = "Rn.ini";

// A configuration value as a signed 32-bit integer: decimal with an optional
// sign, or hexadecimal after "$", "x", "X", "0x" or "0X"; leading blanks are
// skipped. Anything else, or a value out of range, gives nothing.
std::optional<std::int32_t> ProfileInt(std::string_view text);

// Queue sizes, line settings and time-outs for a port opened with section
// number `recNumber`; missing or unreadable keys take their defaults.
platform::PortSetup ReadPortSetup(std::int32_t recNumber);

// Where a key's value came from: the file, or its default and why.
enum class SettingOrigin { File, NoFile, NoSection, NoKey, NotANumber };

struct SettingReport {
    std::string_view Key;    // "Baud", "DataBit", "Parity", "StopBit", "FlowCtrl"
    std::int32_t Value = 0;  // what the setup was built from
    SettingOrigin Origin = SettingOrigin::File;
    std::string Text;  // the value as written, for NotANumber
};

struct PortSetupReport {
    platform::PortSetup Setup;        // what ReadPortSetup gives for the same file
    std::string Section;              // "RecNr<n>"
    std::vector<SettingReport> Keys;  // in the order above
};

// ReadPortSetup, with an account of every key, for people checking Rn.ini.
PortSetupReport ReportPortSetup(std::int32_t recNumber);

// "9600 baud, 8 data bits, no parity, 1 stop bit, no flow control".
std::string LineText(const platform::LineSettings& line);

// A setting that the device holds otherwise than it was asked to.
struct LineDifference {
    std::string_view Key;  // the Rn.ini key it comes from
    std::string Asked;     // in the words of LineText: "12345 baud"
    std::string Reported;  // "9600 baud"
};

// The settings of `reported` that differ from `asked`, in key order. The
// event character is the link's own business and not compared.
std::vector<LineDifference> LineDifferences(const platform::LineSettings& asked,
                                            const platform::LineSettings& reported);

}  // namespace zentrok
