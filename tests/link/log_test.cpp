// The telegram log as received telegrams write it: the file of the day,
// the line's bytes, the "@" rule, a missing folder, and several ports
// logging at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <thread>

#include "environment.h"
#include "link_harness.h"

namespace zentrok::test {
namespace {

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    return *std::localtime(&now);
}

// The log file of today's month and ten-day period, by name alone.
std::string TodaysLogFile() {
    const std::tm now = LocalTimeNow();
    char name[48];
    std::snprintf(name, sizeof name, "%04d%02d_%d.zqa", now.tm_year + 1900, now.tm_mon + 1, (now.tm_mday + 10) / 10);
    return name;
}

// Seconds between the time text "HH:MM:SS" and the local time of day now.
int SecondsFromNow(const std::string& timeText) {
    const int logged = std::stoi(timeText.substr(0, 2)) * 3600 + std::stoi(timeText.substr(3, 2)) * 60 +
                       std::stoi(timeText.substr(6, 2));
    const std::tm now = LocalTimeNow();
    const int current = now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec;
    const int difference = (current - logged + 86400) % 86400;
    return std::min(difference, 86400 - difference);
}

TEST_F(LogTest, LineIsTimeTextBlankTelegramAndLineEnd) {
    // Bytes outside printable ASCII are written exactly as received.
    const std::string telegram = "1\xE4\xF6\xFC\x01\x7F x\xFF";
    const std::string before = TodaysLogFile();
    SendAndAwaitAck(telegram);
    SendAndAwaitAck(kPlainMessage);

    const auto files = LogFiles(dir_);
    ASSERT_EQ(files.size(), 1u);
    const std::string name = files[0].filename().string();
    EXPECT_TRUE(name == before || name == TodaysLogFile()) << name;

    const std::string content = ReadFileBytes(files[0]);
    const std::string first = telegram + "\r\n";
    const std::string second = std::string(kPlainMessage) + "\r\n";
    ASSERT_EQ(content.size(), 9 + first.size() + 9 + second.size()) << content;
    EXPECT_EQ(content.substr(9, first.size()), first);
    EXPECT_EQ(content.substr(9 + first.size() + 9), second);
    const std::string timeText = content.substr(0, 9);
    EXPECT_EQ(LoggedTelegrams(dir_), (std::vector<std::string>{telegram, std::string(kPlainMessage)}));
    EXPECT_LE(SecondsFromNow(timeText), 5) << timeText;
}

TEST_F(LogTest, TelegramWithAtSignIsNotLogged) {
    for (const std::string_view telegram : {"@1ABC", "1A@BC", "1ABC@", "@"}) SendAndAwaitAck(telegram);
    EXPECT_TRUE(LogFiles(dir_).empty()) << "a telegram with \"@\" created the log file";

    SendAndAwaitAck(kRejected);
    EXPECT_EQ(LoggedTelegrams(dir_), std::vector<std::string>{std::string(kRejected)});
}

TEST_F(LogTest, LongestTelegramIsWrittenWholeWithItsLineEnd) {
    std::string longest = "1";
    for (int i = 0; longest.size() < kMaxTelegramLength; ++i) longest += static_cast<char>('A' + i % 26);
    SendAndAwaitAck(longest);
    SendAndAwaitAck(kRejected);
    EXPECT_EQ(LoggedTelegrams(dir_), (std::vector<std::string>{longest, std::string(kRejected)}));
}

TEST(LogFolderTest, MissingFolderSkipsTheLogButNotTheMessage) {
    WorkDir dir(WorkDir::LogFolder::Missing);
    const std::filesystem::path trace = dir.Path() / "trace.txt";
    const ScopedEnvironment tracing("ZENTROK_TRACE", trace.string());
    DeviceDouble device(10);
    const QenHandle port = qen_InitComm(device.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    for (int i = 0; i < 3; ++i) {
        const Exchange exchange = ExchangeTelegram(device, port, kPlainMessage);
        EXPECT_TRUE(exchange.acknowledged);
        ASSERT_EQ(exchange.items.size(), 1u);
        EXPECT_EQ(TextOf(exchange.items[0].Text), "   TXYZ");
    }
    qen_CloseComm(port);
    const std::vector<std::string> events = TracedEvents(trace, device.PortNumber());
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& event) {
                                return event.rfind("log line not written: cannot open ", 0) == 0 &&
                                       event.find("Qenlog") != std::string::npos;
                            }),
              3);
    std::filesystem::remove(trace);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "the driver created files or folders";
}

// Several ports log at the same time: every line arrives, whole and once.
TEST(LogConcurrencyTest, AppendsFromSeveralPortsNeverMix) {
    constexpr int kPorts = 4;
    constexpr int kTelegramsPerPort = 50;
    WorkDir dir;
    std::vector<std::unique_ptr<DeviceDouble>> devices;
    std::vector<QenHandle> ports;
    for (int i = 0; i < kPorts; ++i) {
        devices.push_back(std::make_unique<DeviceDouble>(21 + i));
        ports.push_back(qen_InitComm(devices.back()->PortNumber(), 1));
        ASSERT_NE(ports.back(), nullptr);
    }

    // Long telegrams of the wrong length for type "1": acknowledged at once,
    // so each device sends its next one as soon as the ACK is back.
    auto telegram = [](int port, int n) {
        std::string text = "1-port" + std::to_string(port) + "-telegram" + std::to_string(n) + "-";
        text.resize(200, static_cast<char>('a' + port));
        return text;
    };
    std::vector<std::thread> senders;
    std::vector<int> acknowledged(kPorts, 0);
    for (int i = 0; i < kPorts; ++i) {
        senders.emplace_back([&, i] {
            for (int n = 0; n < kTelegramsPerPort; ++n) {
                devices[i]->SendTelegram(telegram(i, n));
                if (devices[i]->Receive(1, kExpectWithin) == std::string(1, kAck)) ++acknowledged[i];
            }
        });
    }
    for (auto& sender : senders) sender.join();
    for (QenHandle port : ports) qen_CloseComm(port);
    for (int i = 0; i < kPorts; ++i) EXPECT_EQ(acknowledged[i], kTelegramsPerPort) << "port " << i;

    const std::vector<std::string> logged = LoggedTelegrams(dir);
    EXPECT_EQ(logged.size(), static_cast<std::size_t>(kPorts * kTelegramsPerPort));
    std::set<std::string> expected;
    for (int i = 0; i < kPorts; ++i)
        for (int n = 0; n < kTelegramsPerPort; ++n) expected.insert(telegram(i, n));
    EXPECT_EQ(std::set<std::string>(logged.begin(), logged.end()), expected);
}

}  // namespace
}  // namespace zentrok::test
