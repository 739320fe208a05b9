#include "link/line_settings.h"

#include <initializer_list>
#include <string>

#include "decode/conversions.h"
#include "link/protocol.h"

namespace zentrok {
namespace {

constexpr std::uint32_t kQueueSize = 200;

// The setup from the values `read(key, default)` gives for each key.
template <typename Read>
platform::PortSetup BuildPortSetup(Read read) {
    platform::PortSetup setup;
    setup.InQueue = kQueueSize;
    setup.OutQueue = kQueueSize;
    platform::LineSettings& line = setup.Line;
    line.BaudRate = static_cast<std::uint32_t>(read("Baud", 300));
    line.ByteSize = static_cast<std::uint8_t>(read("DataBit", 7));
    line.Parity = static_cast<std::uint8_t>(read("Parity", 0));
    line.StopBits = static_cast<std::uint8_t>(read("StopBit", 0));
    line.Flags = platform::flags::kBinary | platform::flags::kDtrControlEnable;
    line.EvtChar = kEndCharacter;
    switch (read("FlowCtrl", 0)) {
        case 1: line.Flags |= platform::flags::kOutX | platform::flags::kInX; break;
        case 2: line.Flags |= platform::flags::kOutxCtsFlow | platform::flags::kRtsControlHandshake; break;
        default: break;
    }
    // No read time-out at all: a read then completes once its bytes have
    // arrived, so the reader can sleep in a read where the system offers no
    // other wake-up for arriving bytes that it can rely on.
    setup.ReadIntervalTimeout = 0;
    setup.ReadTotalTimeoutMultiplier = 0;
    setup.ReadTotalTimeoutConstant = 0;
    setup.WriteTotalTimeoutMultiplier = 0;
    setup.WriteTotalTimeoutConstant = 0;
    return setup;
}

std::string SectionName(std::int32_t recNumber) { return "RecNr" + std::to_string(recNumber); }

// The words for a value, with the value itself where it has no name.
std::string Named(std::int64_t value, std::initializer_list<const char*> names, const char* otherwise) {
    if (value >= 0 && value < static_cast<std::int64_t>(names.size())) return names.begin()[value];
    return otherwise + std::to_string(value);
}

using platform::LineSettings;

std::string BaudText(std::int64_t value) { return std::to_string(value) + " baud"; }
std::string DataBitsText(std::int64_t value) { return std::to_string(value) + " data bits"; }
std::string ParityText(std::int64_t value) {
    return Named(value, {"no parity", "odd parity", "even parity", "mark parity", "space parity"}, "parity ");
}
std::string StopBitsText(std::int64_t value) {
    return Named(value, {"1 stop bit", "1.5 stop bits", "2 stop bits"}, "stop bits ");
}
std::string FlowControlText(std::int64_t value) {
    return Named(value, {"no flow control", "XON/XOFF flow control", "RTS/CTS flow control"}, "flow control ");
}

std::int64_t BaudOf(const LineSettings& line) { return line.BaudRate; }
std::int64_t DataBitsOf(const LineSettings& line) { return line.ByteSize; }
std::int64_t ParityOf(const LineSettings& line) { return line.Parity; }
std::int64_t StopBitsOf(const LineSettings& line) { return line.StopBits; }
std::int64_t FlowControlOf(const LineSettings& line) {
    if (line.Flags & platform::flags::kOutX) return 1;
    if (line.Flags & platform::flags::kRtsControlHandshake) return 2;
    return 0;
}

// Each key: the values it has a meaning for, the words for a value, and
// the value a line holds for it.
struct KeyWords {
    std::string_view Key;
    std::int32_t Min;
    std::int32_t Max;
    std::string (*Text)(std::int64_t value);
    std::int64_t (*Held)(const LineSettings& line);
};

constexpr KeyWords kKeyWords[] = {
    {"Baud", 1, INT32_MAX, BaudText, BaudOf},
    {"DataBit", 5, 8, DataBitsText, DataBitsOf},
    {"Parity", 0, 4, ParityText, ParityOf},
    {"StopBit", 0, 2, StopBitsText, StopBitsOf},
    {"FlowCtrl", 0, 2, FlowControlText, FlowControlOf},
};

const KeyWords& WordsOf(std::string_view key) {
    for (const KeyWords& words : kKeyWords)
        if (words.Key == key) return words;
    return kKeyWords[0];  // every caller names one of the keys above
}

SettingOrigin OriginOf(platform::ProfileFound found, NumberStatus status) {
    switch (found) {
        case platform::ProfileFound::NoFile: return SettingOrigin::NoFile;
        case platform::ProfileFound::NoSection: return SettingOrigin::NoSection;
        case platform::ProfileFound::NoKey: return SettingOrigin::NoKey;
        case platform::ProfileFound::Value: break;
    }
    switch (status) {
        case NumberStatus::NotANumber: return SettingOrigin::NotANumber;
        case NumberStatus::OutOfRange: return SettingOrigin::OutOfRange;
        case NumberStatus::Number: break;
    }
    return SettingOrigin::File;
}

}  // namespace

platform::PortSetup ReadPortSetup(std::int32_t recNumber) {
    const std::string path = platform::CurrentDirPath({kConfigFileName});
    const std::string section = SectionName(recNumber);
    return BuildPortSetup([&](std::string_view key, std::int32_t fallback) {
        const NumberValue value = ReadNumber(platform::ReadProfileString(path, section, key), NumberRule::Whole);
        return value.Status == NumberStatus::Number ? value.Value : fallback;
    });
}

std::string LineText(const platform::LineSettings& line) {
    std::string text;
    for (const KeyWords& words : kKeyWords) text += (text.empty() ? "" : ", ") + words.Text(words.Held(line));
    return text;
}

std::string HeldText(std::string_view key, const platform::LineSettings& line) {
    const KeyWords& words = WordsOf(key);
    return words.Text(words.Held(line));
}

std::string AskedText(const PortSetupReport& report) {
    std::string text;
    for (const SettingReport& setting : report.Keys)
        text += (text.empty() ? "" : ", ") + WordsOf(setting.Key).Text(setting.Value);
    return text;
}

std::optional<std::string> RangeMissed(const SettingReport& setting) {
    const KeyWords& words = WordsOf(setting.Key);
    if (setting.Origin != SettingOrigin::File || (setting.Value >= words.Min && setting.Value <= words.Max))
        return std::nullopt;
    if (words.Max == INT32_MAX) return "at least " + std::to_string(words.Min);
    return std::to_string(words.Min) + " to " + std::to_string(words.Max);
}

std::vector<LineDifference> LineDifferences(const platform::LineSettings& asked,
                                            const platform::LineSettings& reported) {
    std::vector<LineDifference> differences;
    for (const KeyWords& words : kKeyWords) {
        std::string wanted = words.Text(words.Held(asked));
        std::string held = words.Text(words.Held(reported));
        if (wanted != held) differences.push_back({words.Key, std::move(wanted), std::move(held)});
    }
    return differences;
}

PortSetupReport ReportPortSetup(std::int32_t recNumber) {
    const std::string path = platform::CurrentDirPath({kConfigFileName});
    PortSetupReport report;
    report.Section = SectionName(recNumber);
    report.Setup = BuildPortSetup([&](std::string_view key, std::int32_t fallback) {
        const platform::ProfileLookup lookup = platform::LookUpProfileString(path, report.Section, key);
        const NumberValue value = ReadNumber(lookup.Value, NumberRule::Whole);
        SettingReport& setting = report.Keys.emplace_back();
        setting.Key = key;
        setting.Origin = OriginOf(lookup.Found, value.Status);
        setting.Value = setting.Origin == SettingOrigin::File ? value.Value : fallback;
        setting.Text = lookup.Value;
        return setting.Value;
    });
    return report;
}

}  // namespace zentrok
