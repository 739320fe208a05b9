#include "link/line_settings.h"

#include <string>

#include "decode/conversions.h"
#include "link/protocol.h"

namespace zentrok {
namespace {

constexpr std::uint32_t kQueueSize = 200;

std::optional<std::int32_t> ParseHex(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

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

SettingOrigin OriginOf(platform::ProfileFound found, bool isNumber) {
    switch (found) {
        case platform::ProfileFound::NoFile: return SettingOrigin::NoFile;
        case platform::ProfileFound::NoSection: return SettingOrigin::NoSection;
        case platform::ProfileFound::NoKey: return SettingOrigin::NoKey;
        case platform::ProfileFound::Value: break;
    }
    return isNumber ? SettingOrigin::File : SettingOrigin::NotANumber;
}

}  // namespace

std::optional<std::int32_t> ProfileInt(std::string_view text) {
    while (!text.empty() && text[0] == ' ') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    if (text[0] == '$' || text[0] == 'x' || text[0] == 'X') return ParseHex(text.substr(1));
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return ParseHex(text.substr(2));
    return ParseDecimal(text);
}

platform::PortSetup ReadPortSetup(std::int32_t recNumber) {
    const std::string path = platform::CurrentDirPath({kConfigFileName});
    const std::string section = SectionName(recNumber);
    return BuildPortSetup([&](std::string_view key, std::int32_t fallback) {
        return ProfileInt(platform::ReadProfileString(path, section, key)).value_or(fallback);
    });
}

std::string LineText(const platform::LineSettings& line) {
    return std::to_string(line.BaudRate) + " baud, " + std::to_string(line.ByteSize) + " data bits, " +
           ParityText(line.Parity) + ", " + StopBitsText(line.StopBits) + ", " + FlowControlText(line.Flags);
}

std::vector<LineDifference> LineDifferences(const platform::LineSettings& asked,
                                            const platform::LineSettings& reported) {
    const std::pair<std::string_view, std::string (*)(const platform::LineSettings&)> kSettings[] = {
        {"Baud", [](const platform::LineSettings& line) { return std::to_string(line.BaudRate) + " baud"; }},
        {"DataBit", [](const platform::LineSettings& line) { return std::to_string(line.ByteSize) + " data bits"; }},
        {"Parity", [](const platform::LineSettings& line) { return ParityText(line.Parity); }},
        {"StopBit", [](const platform::LineSettings& line) { return StopBitsText(line.StopBits); }},
        {"FlowCtrl", [](const platform::LineSettings& line) { return FlowControlText(line.Flags); }},
    };
    std::vector<LineDifference> differences;
    for (const auto& [key, text] : kSettings) {
        std::string wanted = text(asked);
        std::string held = text(reported);
        if (wanted != held) differences.push_back({key, std::move(wanted), std::move(held)});
    }
    return differences;
}

PortSetupReport ReportPortSetup(std::int32_t recNumber) {
    const std::string path = platform::CurrentDirPath({kConfigFileName});
    PortSetupReport report;
    report.Section = SectionName(recNumber);
    report.Setup = BuildPortSetup([&](std::string_view key, std::int32_t fallback) {
        const platform::ProfileLookup lookup = platform::LookUpProfileString(path, report.Section, key);
        const std::optional<std::int32_t> value = ProfileInt(lookup.Value);
        SettingReport& setting = report.Keys.emplace_back();
        setting.Key = key;
        setting.Value = value.value_or(fallback);
        setting.Origin = OriginOf(lookup.Found, value.has_value());
        setting.Text = lookup.Value;
        return setting.Value;
    });
    return report;
}

}  // namespace zentrok
