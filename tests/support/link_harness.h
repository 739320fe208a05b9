// What the link and reliability tests share: telegrams with a known outcome, the host side
// of the hand-off, and reading back the telegram log.
//
// The test's main thread makes the process's first qen_InitComm, so it is
// the host thread: hand-offs only complete while it keeps calling qen_GetMsg.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device_double.h"
#include "host_record.h"
#include "work_dir.h"
#include "zentrok.h"

namespace zentrok::test {

using namespace std::chrono_literals;

// The reader's waits, as the driver under test was built with them.
inline constexpr std::chrono::milliseconds kIdleWait{kIdleWaitMs};
inline constexpr std::chrono::milliseconds kHandOffWait{kHandOffWaitMs};

// Generous for what must happen; short for asserting that nothing happens.
inline constexpr std::chrono::milliseconds kExpectWithin = 3s;
inline constexpr std::chrono::milliseconds kQuietWindow = 300ms;

// Type "1": Number 7, Channel 3, Ident 0xABCD, Code " C", Text "   TXYZ".
inline constexpr std::string_view kPlainMessage = "1073xxxx00ABCD TCXYZ";
// Type "1" of the wrong length: decoded to nothing for the host.
inline constexpr std::string_view kRejected = "1ABC";
// Type "3" registration of code "K9" for ident 0xABCD on channel 2.
inline constexpr std::string_view kRegistration = "3012xxxx00ABCDrixxK9";
// Type "3" of channel 2 and ident 0xABCD: takes up the registered code.
inline constexpr std::string_view kRegisteredUse = "3022xxxx00ABCDxxxxYZ";
// Type "0": answered with two ACK bytes.
inline constexpr std::string_view kAckOnly = "0123";
// Type "S" with three qualifying entries: AAA becomes the message, BBB and
// CCC are queued behind it, all with entry number 12.
inline constexpr std::string_view kThreeEntries = "S071#2A4F/Eri12/AAA/BBB/CCC]";

std::string TextOf(const QenText& text);
std::string CodeOf(const QenCode& code);

// Host thread: runs the queued hand-offs once, without taking anything.
void RunHandOffs();

// Host thread: runs queued hand-offs for `duration` without taking anything.
void ServeHostThread(std::chrono::milliseconds duration);

// Host thread: polls `port` until an item arrives (true) or `within` passes.
bool AwaitMsg(QenHandle port, QenMsg& msg, std::chrono::milliseconds within = kExpectWithin);

// Bytes from the device, read while the host thread serves hand-offs.
std::string ReceiveServing(DeviceDouble& device, std::size_t count, std::chrono::milliseconds within);

struct Exchange {
    std::vector<QenMsg> items;  // everything the host took, in order
    std::string reply;          // the bytes the device received
    bool acknowledged = false;  // the reply is exactly the ACK bytes expected
};

// Acts as host until the device has received `acks` bytes or `within` has
// passed: every item the port delivers is taken on the way.
Exchange AwaitAcks(DeviceDouble& device, QenHandle port, std::size_t acks = 1,
                   std::chrono::milliseconds within = kExpectWithin);

// Sends one telegram, then AwaitAcks.
Exchange ExchangeTelegram(DeviceDouble& device, QenHandle port, std::string_view telegram, std::size_t acks = 1,
                          std::chrono::milliseconds within = kExpectWithin);

// The plain message goes through whole, decodes as itself and is
// acknowledged once.
void ExpectPlainMessageIntact(DeviceDouble& device, QenHandle port);

// The port's line state; fails the test when qen_GetLineState refuses it.
QenLineState LineStateOf(QenHandle port);

// Host thread: serves hand-offs until the port's device is there (or not)
// with at least `reopens` reopens; false when `within` passes first.
bool AwaitDevice(QenHandle port, bool present, std::uint32_t reopens = 0,
                 std::chrono::milliseconds within = kExpectWithin);

// Port COM<PortNumber>, opened on a device double in a working directory of
// its own. Programs run at once under Wine share COM<n>: one number each.
template <std::int32_t PortNumber>
class PortTest : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = qen_InitComm(device_.PortNumber(), 1);
        ASSERT_NE(port_, nullptr);
    }
    void TearDown() override { qen_CloseComm(port_); }

    void SendAndAwaitAck(std::string_view telegram) {
        EXPECT_TRUE(ExchangeTelegram(device_, port_, telegram).acknowledged) << telegram;
    }

    WorkDir dir_;
    DeviceDouble device_{PortNumber};
    QenHandle port_ = nullptr;
};

// The port of the telegram log's tests.
using LogTest = PortTest<9>;

// The telegram log of the working directory: files in "Qenlog", and the
// telegrams of all lines in order. A line whose time text or line end is
// malformed fails the test.
std::vector<std::filesystem::path> LogFiles(const WorkDir& dir);
std::vector<std::string> LoggedTelegrams(const WorkDir& dir);

// The events that the trace file `trace` holds for port `port`, each
// without its "YYYY-MM-DD HH:MM:SS.mmm COM<n> " start, in order. A line that
// does not start so, or does not end with CR LF, fails the test.
std::vector<std::string> TracedEvents(const std::filesystem::path& trace, std::int32_t port);

// Whether one of `events` starts with `start`.
bool HasEvent(const std::vector<std::string>& events, std::string_view start);

}  // namespace zentrok::test
