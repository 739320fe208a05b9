#include "monitor/settings_text.h"

#include "monitor/item_format.h"

namespace zentrok::monitor {
namespace {

std::string ParityText(std::uint8_t parity) {
    static constexpr const char* kNames[] = {"no parity", "odd parity", "even parity", "mark parity", "space parity"};
    return parity < 5 ? kNames[parity] : "parity " + std::to_string(parity);
}

std::string StopBitsText(std::uint8_t stopBits) {
    static constexpr const char* kNames[] = {"1 stop bit", "1.5 stop bits", "2 stop bits"};
    return stopBits < 3 ? kNames[stopBits] : "stop bits " + std::to_string(stopBits);
}

std::string FlowControlText(std::uint32_t flags) {
    if (flags & platform::flags::kOutX) return "XON/XOFF flow control";
    if (flags & platform::flags::kRtsControlHandshake) return "RTS/CTS flow control";
    return "no flow control";
}

std::string LineText(const platform::LineSettings& line) {
    return std::to_string(line.BaudRate) + " baud, " + std::to_string(line.ByteSize) + " data bits, " +
           ParityText(line.Parity) + ", " + StopBitsText(line.StopBits) + ", " + FlowControlText(line.Flags);
}

std::string KeyValue(const SettingReport& setting) {
    return std::string(setting.Key) + "=" + std::to_string(setting.Value);
}

// "default Parity=0, StopBit=0: <why>" for the keys of one origin.
void AddDefaults(std::vector<std::string>& lines, const PortSetupReport& report, SettingOrigin origin,
                 const std::string& why) {
    std::string keys;
    for (const SettingReport& setting : report.Keys)
        if (setting.Origin == origin) keys += (keys.empty() ? "" : ", ") + KeyValue(setting);
    if (!keys.empty()) lines.push_back("default " + keys + ": " + why);
}

}  // namespace

std::vector<std::string> SettingsLines(int port, const std::string& device, const PortSetupReport& report) {
    std::vector<std::string> lines = {"COM" + std::to_string(port) + " = " + device + ", " + report.Section + ": " +
                                      LineText(report.Setup.Line)};
    const std::string file = kConfigFileName;
    AddDefaults(lines, report, SettingOrigin::NoFile, "missing file " + file + " in the current directory");
    AddDefaults(lines, report, SettingOrigin::NoSection, "missing section [" + report.Section + "] in " + file);
    AddDefaults(lines, report, SettingOrigin::NoKey, "missing key in [" + report.Section + "]");
    for (const SettingReport& setting : report.Keys)
        if (setting.Origin == SettingOrigin::NotANumber)
            lines.push_back("default " + KeyValue(setting) + ": not a number: " + Quoted(setting.Text));
    return lines;
}

}  // namespace zentrok::monitor
