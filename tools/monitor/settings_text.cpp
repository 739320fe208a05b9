#include "monitor/settings_text.h"

#include "link/trace.h"

namespace zentrok::monitor {
namespace {

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

std::string KeyValue(const PortSetupReport& report, std::string_view key) {
    for (const SettingReport& setting : report.Keys)
        if (setting.Key == key) return KeyValue(setting);
    return std::string(key);
}

bool OutOfRange(const PortSetupReport& report, std::string_view key) {
    for (const SettingReport& setting : report.Keys)
        if (setting.Key == key) return RangeMissed(setting).has_value();
    return false;
}

// What the device made of the settings, read back after configuring.
void AddReadBack(std::vector<std::string>& lines, const PortSetupReport& report, const QenLineState& state) {
    if (!state.SettingsKnown) {
        lines.push_back("the device did not report its settings; the line above is what Rn.ini asked for");
        return;
    }
    for (const LineDifference& difference : LineDifferences(report.Setup.Line, ReportedLine(state))) {
        if (OutOfRange(report, difference.Key)) continue;  // its note says what it stays at
        const char* what = difference.Key == "Baud" ? "that rate" : "that";
        lines.push_back(KeyValue(report, difference.Key) + ": this line does not support " + what + "; it stays at " +
                        difference.Reported);
    }
}

}  // namespace

platform::LineSettings ReportedLine(const QenLineState& state) {
    platform::LineSettings line;
    line.BaudRate = state.BaudRate;
    line.ByteSize = state.ByteSize;
    line.Parity = state.Parity;
    line.StopBits = state.StopBits;
    line.Flags = state.Flags;
    return line;
}

std::vector<std::string> SettingsLines(int port, const std::string& device, const PortSetupReport& report,
                                       const QenLineState& state) {
    const platform::LineSettings line = state.SettingsKnown ? ReportedLine(state) : report.Setup.Line;
    std::vector<std::string> lines = {"COM" + std::to_string(port) + " = " + device + ", " + report.Section + ": " +
                                      LineText(line)};
    AddReadBack(lines, report, state);
    for (std::string& note : ValueNotes(report, line)) lines.push_back(std::move(note));
    const std::string file = kConfigFileName;
    AddDefaults(lines, report, SettingOrigin::NoFile, "missing file " + file + " in the current directory");
    AddDefaults(lines, report, SettingOrigin::NoSection, "missing section [" + report.Section + "] in " + file);
    AddDefaults(lines, report, SettingOrigin::NoKey, "missing key in [" + report.Section + "]");
    return lines;
}

std::string CountersText(const QenLineState& state) {
    const auto count = [](std::uint32_t value, const char* one, const char* many) {
        return std::to_string(value) + " " + (value == 1 ? one : many);
    };
    return count(state.Telegrams, "telegram", "telegrams") + ", " + count(state.AcksSent, "ACK", "ACKs") + " sent, " +
           std::to_string(state.Withdrawn) + " withdrawn, " + std::to_string(state.DiscardedTelegrams) +
           " discarded for line errors, " + count(state.LineErrors, "line error", "line errors") + ", " +
           count(state.Reopens, "reopen", "reopens") + ", " + count(state.LogLinesNotWritten, "log line", "log lines") +
           " not written";
}

}  // namespace zentrok::monitor
