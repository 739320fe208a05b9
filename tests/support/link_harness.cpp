#include "link_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <thread>

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollStep = 5ms;

// "HH:MM:SS " at the start of a log line: a 24-hour time with leading zeros.
bool StartsWithTimeText(const std::string& line) {
    if (line.size() < 9 || line[2] != ':' || line[5] != ':' || line[8] != ' ') return false;
    for (const std::size_t at : {0u, 3u, 6u})
        if (!std::isdigit(static_cast<unsigned char>(line[at])) ||
            !std::isdigit(static_cast<unsigned char>(line[at + 1])))
            return false;
    return std::stoi(line.substr(0, 2)) < 24 && std::stoi(line.substr(3, 2)) < 60 && std::stoi(line.substr(6, 2)) < 60;
}

// "YYYY-MM-DD HH:MM:SS.mmm " at the start of a trace line.
bool StartsWithTraceTime(const std::string& line) {
    static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd.ddd ";
    if (line.size() < sizeof kShape - 1) return false;
    for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
    }
    return true;
}

// The CR LF-ended lines of `file`; bytes after the last line end fail the test.
std::vector<std::string> LinesOf(const std::filesystem::path& file) {
    const std::string content = ReadFileBytes(file);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    EXPECT_EQ(start, content.size()) << "the file does not end with a whole line: " << file;
    return lines;
}

}  // namespace

std::string TextOf(const QenText& text) { return std::string(text.Chars, std::min<std::size_t>(text.Length, 7)); }

std::string CodeOf(const QenCode& code) { return std::string(code.Chars, std::min<std::size_t>(code.Length, 2)); }

void RunHandOffs() {
    QenMsg ignored;
    qen_GetMsg(nullptr, &ignored);
}

void ServeHostThread(std::chrono::milliseconds duration) {
    const auto end = Clock::now() + duration;
    do {
        RunHandOffs();
        std::this_thread::sleep_for(kPollStep);
    } while (Clock::now() < end);
}

bool AwaitMsg(QenHandle port, QenMsg& msg, std::chrono::milliseconds within) {
    const auto end = Clock::now() + within;
    do {
        if (qen_GetMsg(port, &msg) == 1) return true;
        std::this_thread::sleep_for(kPollStep);
    } while (Clock::now() < end);
    return false;
}

std::string ReceiveServing(DeviceDouble& device, std::size_t count, std::chrono::milliseconds within) {
    const auto end = Clock::now() + within;
    std::string received;
    do {
        RunHandOffs();
        received += device.Receive(count - received.size(), kPollStep);
    } while (received.size() < count && Clock::now() < end);
    return received;
}

Exchange AwaitAcks(DeviceDouble& device, QenHandle port, std::size_t acks, std::chrono::milliseconds within) {
    Exchange exchange;
    const auto end = Clock::now() + within;
    do {
        for (QenMsg msg = PatternMsg(); qen_GetMsg(port, &msg) == 1; msg = PatternMsg()) exchange.items.push_back(msg);
        exchange.reply += device.Receive(acks - exchange.reply.size(), 1ms);
    } while (exchange.reply.size() < acks && Clock::now() < end);
    exchange.acknowledged = exchange.reply == std::string(acks, kAck);
    return exchange;
}

Exchange ExchangeTelegram(DeviceDouble& device, QenHandle port, std::string_view telegram, std::size_t acks,
                          std::chrono::milliseconds within) {
    device.SendTelegram(telegram);
    return AwaitAcks(device, port, acks, within);
}

void ExpectPlainMessageIntact(DeviceDouble& device, QenHandle port) {
    const Exchange exchange = ExchangeTelegram(device, port, kPlainMessage);
    EXPECT_TRUE(exchange.acknowledged) << "reply of " << exchange.reply.size() << " bytes";
    ASSERT_EQ(exchange.items.size(), 1u);
    EXPECT_EQ(exchange.items[0].Number, 7);
    EXPECT_EQ(exchange.items[0].Ident, 0xABCD);
    EXPECT_EQ(TextOf(exchange.items[0].Text), "   TXYZ");
}

QenLineState LineStateOf(QenHandle port) {
    QenLineState state{};
    state.Size = sizeof state;
    EXPECT_EQ(qen_GetLineState(port, &state), 1);
    return state;
}

bool AwaitDevice(QenHandle port, bool present, std::uint32_t reopens, std::chrono::milliseconds within) {
    const auto end = Clock::now() + within;
    for (;;) {
        const QenLineState state = LineStateOf(port);
        if (state.DevicePresent == (present ? 1u : 0u) && state.Reopens >= reopens) return true;
        if (Clock::now() >= end) return false;
        ServeHostThread(kPollStep);
    }
}

std::vector<std::filesystem::path> LogFiles(const WorkDir& dir) {
    std::vector<std::filesystem::path> files;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(dir.LogFolderPath(), missing))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> LoggedTelegrams(const WorkDir& dir) {
    std::vector<std::string> telegrams;
    for (const auto& file : LogFiles(dir)) {
        for (const std::string& line : LinesOf(file)) {
            EXPECT_TRUE(StartsWithTimeText(line)) << "line: " << line;
            telegrams.push_back(line.size() >= 9 ? line.substr(9) : line);
        }
    }
    return telegrams;
}

std::vector<std::string> TracedEvents(const std::filesystem::path& trace, std::int32_t port) {
    const std::string tag = "COM" + std::to_string(port) + " ";
    constexpr std::size_t kTimeLength = 24;
    std::vector<std::string> events;
    for (const std::string& line : LinesOf(trace)) {
        EXPECT_TRUE(StartsWithTraceTime(line)) << "trace line: " << line;
        if (line.compare(kTimeLength, tag.size(), tag) == 0) events.push_back(line.substr(kTimeLength + tag.size()));
    }
    return events;
}

bool HasEvent(const std::vector<std::string>& events, std::string_view start) {
    return std::any_of(events.begin(), events.end(),
                       [&](const std::string& event) { return event.compare(0, start.size(), start) == 0; });
}

}  // namespace zentrok::test
