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

// Queue sizes, line settings and time-outs for a port opened with section
// number `recNumber`; missing or unreadable keys take their defaults.
platform::PortSetup ReadPortSetup(std::int32_t recNumber);

// Where a key's value came from: the file, or its default and why. A value
// is read as a whole number (decode/conversions.h): OutOfRange is a number
// outside 32 bits, NotANumber any other text that is not one.
enum class SettingOrigin { File, NoFile, NoSection, NoKey, NotANumber, OutOfRange };

struct SettingReport {
    std::string_view Key;    // "Baud", "DataBit", "Parity", "StopBit", "FlowCtrl"
    std::int32_t Value = 0;  // what the setup was built from, signed, before the line takes its low bits
    SettingOrigin Origin = SettingOrigin::File;
    std::string Text;  // the value as written
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

// What `line` holds for one key, in the words of LineText: "9600 baud".
std::string HeldText(std::string_view key, const platform::LineSettings& line);

// The settings as Rn.ini gives them, each value as read (signed, all 32
// bits): "-9600 baud, 8 data bits, no parity, stop bits -1, flow control 9".
std::string AskedText(const PortSetupReport& report);

// For a value read from the file that its key has no meaning for, the
// values it has, in words: "5 to 8" for DataBit, "0 to 4" for Parity,
// "0 to 2" for StopBit and FlowCtrl, "at least 1" for Baud. The value goes
// to the line all the same, as the key table says (the low 8 bits; a
// FlowCtrl other than 1 and 2 as 0).
std::optional<std::string> RangeMissed(const SettingReport& setting);

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
