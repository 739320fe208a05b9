// Opening ports: the line settings of each port's "Rn.ini" section, their
// defaults, the line as qen_GetLineState reports it, and ports that cannot
// be opened.
//
// A pseudo terminal keeps speed, stop bits and flow control, so those are
// read back from the line. It forces 8 data bits without parity, so data
// bits and parity are checked on what the driver asked for, where the build
// can see the request (requested_framing.h).
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "link_harness.h"
#include "requested_framing.h"

namespace zentrok::test {
namespace {

struct OpenedPort {
    QenHandle handle = nullptr;
    std::optional<Framing> requested;  // the driver's last request while opening
};

OpenedPort Open(std::int32_t portNumber, std::int32_t recNumber) {
    const std::size_t before = FramingRequests();
    OpenedPort port;
    port.handle = qen_InitComm(portNumber, recNumber);
    if (FramingRequests() > before) port.requested = LastRequestedFraming();
    return port;
}

struct Line {
    std::uint32_t baud;
    Framing framing;
    bool twoStopBits;
    bool rtsCts;
    bool xonXoff;
};

void ExpectLine(const DeviceDouble& device, const OpenedPort& port, const Line& expected) {
    if (FramingRequestsVisible()) {
        ASSERT_TRUE(port.requested.has_value()) << "the line was not configured";
        EXPECT_EQ(port.requested->dataBits, expected.framing.dataBits);
        EXPECT_EQ(port.requested->parity, expected.framing.parity);
    }
    const LineState line = device.Line();
    EXPECT_EQ(line.Baud, expected.baud);
    EXPECT_EQ(line.TwoStopBits, expected.twoStopBits);
    EXPECT_EQ(line.RtsCts, expected.rtsCts);
    EXPECT_EQ(line.XonXoffOut, expected.xonXoff);
    EXPECT_EQ(line.XonXoffIn, expected.xonXoff);
}

constexpr Line kDefaultLine{300, {7, kNoParity}, false, false, false};

// qen_GetLineState of an open port gives 1 and the line as the device holds
// it; a record too small gives 0 and stays as it was.
void ExpectLineState(const DeviceDouble& device, QenHandle handle, std::uint32_t telegrams) {
    QenLineState state;
    std::memset(&state, 0xA5, sizeof state);
    state.Size = sizeof state - 1;
    const QenLineState before = state;
    EXPECT_EQ(qen_GetLineState(handle, &state), 0) << "a record too small";
    EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0) << "a record too small was written";

    state.Size = sizeof state;
    ASSERT_EQ(qen_GetLineState(handle, &state), 1);
    EXPECT_EQ(state.Size, sizeof state);
    EXPECT_EQ(state.DevicePresent, 1u);
    EXPECT_EQ(state.AwayMs, 0u);
    EXPECT_EQ(state.Telegrams, telegrams);
    EXPECT_EQ(state.Reopens, 0u);
    const LineState line = device.Line();
    EXPECT_EQ(state.SettingsKnown, 1);
    EXPECT_EQ(state.BaudRate, line.Baud);
    EXPECT_EQ(state.StopBits, line.TwoStopBits ? 2 : 0);
}

TEST(LineSettingsTest, TwoPortsRunWithTheirOwnSections) {
    WorkDir dir;
    dir.WriteIni(
        "[RecNr1]\r\nBaud=9600\r\nDataBit=8\r\nParity=2\r\nStopBit=2\r\nFlowCtrl=2\r\n"
        "[RecNr2]\r\nBaud=19200\r\nDataBit=7\r\nParity=1\r\nStopBit=0\r\nFlowCtrl=1\r\n");
    DeviceDouble first(1);
    DeviceDouble twelfth(12);  // numbers above 9 use the same naming
    const OpenedPort one = Open(first.PortNumber(), 1);
    const OpenedPort two = Open(twelfth.PortNumber(), 2);
    ASSERT_NE(one.handle, nullptr);
    ASSERT_NE(two.handle, nullptr);
    EXPECT_NE(one.handle, two.handle);

    {
        SCOPED_TRACE("RecNr1");
        ExpectLine(first, one, {9600, {8, kEvenParity}, true, true, false});
    }
    {
        SCOPED_TRACE("RecNr2");
        ExpectLine(twelfth, two, {19200, {7, kOddParity}, false, false, true});
    }

    // Each handle delivers its own port's telegrams.
    first.SendTelegram("1113xxxx00ABCD TCXYZ");
    twelfth.SendTelegram("1223xxxx00ABCD TCXYZ");
    QenMsg fromOne = PatternMsg();
    QenMsg fromTwo = PatternMsg();
    ASSERT_TRUE(AwaitMsg(one.handle, fromOne));
    ASSERT_TRUE(AwaitMsg(two.handle, fromTwo));
    EXPECT_EQ(fromOne.Number, 11);
    EXPECT_EQ(fromTwo.Number, 22);
    EXPECT_EQ(first.Receive(1, kExpectWithin), std::string(1, kAck));
    EXPECT_EQ(twelfth.Receive(1, kExpectWithin), std::string(1, kAck));
    {
        SCOPED_TRACE("line state of RecNr1");
        ExpectLineState(first, one.handle, 1);
    }
    {
        SCOPED_TRACE("line state of RecNr2");
        ExpectLineState(twelfth, two.handle, 1);
    }

    qen_CloseComm(one.handle);
    qen_CloseComm(two.handle);
    // A closed port's handle gives no line state and writes nothing.
    QenLineState state;
    std::memset(&state, 0xA5, sizeof state);
    state.Size = sizeof state;
    const QenLineState before = state;
    EXPECT_EQ(qen_GetLineState(one.handle, &state), 0);
    EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0);
}

// Missing or unreadable values fall back to each key's default.
TEST(LineSettingsTest, DefaultsAndValueForms) {
    struct Case {
        const char* name;
        const char* ini;  // nullptr: no Rn.ini at all
        Line expected;
    };
    const Case cases[] = {
        {"no Rn.ini", nullptr, kDefaultLine},
        {"no section", "[RecNr9]\r\nBaud=9600\r\nDataBit=8\r\n", kDefaultLine},
        {"UTF-8 byte-order mark",
         "\xEF\xBB\xBF[RecNr1]\r\nBaud=9600\r\nDataBit=8\r\n",
         {9600, {8, kNoParity}, false, false, false}},
        {"hexadecimal baud", "[RecNr1]\r\nBaud=0x2580\r\n", {9600, {7, kNoParity}, false, false, false}},
        {"dollar hexadecimal", "[RecNr1]\r\nBaud=$12C0\r\n", {4800, {7, kNoParity}, false, false, false}},
        {"trailing character", "[RecNr1]\r\nBaud=9600x\r\n", kDefaultLine},
        {"trailing word", "[RecNr1]\r\nBaud=9600 baud\r\n", kDefaultLine},
        {"empty values", "[RecNr1]\r\nBaud=\r\nDataBit=\r\nFlowCtrl=\r\n", kDefaultLine},
        {"low byte of data bits", "[RecNr1]\r\nDataBit=263\r\n", kDefaultLine},
        {"unknown flow control", "[RecNr1]\r\nFlowCtrl=3\r\n", kDefaultLine},
        {"even parity, six bits",
         "[RecNr1]\r\nParity=2\r\nDataBit=6\r\n",
         {300, {6, kEvenParity}, false, false, false}},
    };
    DeviceDouble device(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WorkDir dir;
        if (c.ini) dir.WriteIni(c.ini);
        const OpenedPort port = Open(device.PortNumber(), 1);
        ASSERT_NE(port.handle, nullptr);
        ExpectLine(device, port, c.expected);
        qen_CloseComm(port.handle);
    }
}

TEST(LineSettingsTest, PortsThatCannotBeOpenedGiveNull) {
    WorkDir dir;
    DeviceDouble device(8);
    const QenHandle open = qen_InitComm(device.PortNumber(), 1);
    ASSERT_NE(open, nullptr);

    EXPECT_EQ(qen_InitComm(device.PortNumber(), 1), nullptr) << "a second open of an open port";
    EXPECT_EQ(qen_InitComm(device.PortNumber(), 2), nullptr) << "with another section";
    for (const std::int32_t missing : {0, -1, 77, 1000}) EXPECT_EQ(qen_InitComm(missing, 1), nullptr) << missing;

    // The first handle is not disturbed by the failed opens.
    const Exchange exchange = ExchangeTelegram(device, open, kPlainMessage);
    EXPECT_TRUE(exchange.acknowledged);
    EXPECT_EQ(exchange.items.size(), 1u);
    qen_CloseComm(open);
}

}  // namespace
}  // namespace zentrok::test
