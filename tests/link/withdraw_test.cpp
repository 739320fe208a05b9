// The hand-off wait runs out: what the host has not taken within it is
// withdrawn and the telegram stays unacknowledged, while a take well within
// it is still acknowledged. Three ports share one run of the wait, traced
// into ZENTROK_TRACE, with a port that does not open.
#include <gtest/gtest.h>

#include "environment.h"
#include "link_harness.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;

void ServeHostThreadUntil(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left > 0ms) ServeHostThread(left);
}

TEST(WithdrawTest, WhatIsNotTakenInTimeIsWithdrawnWithoutAck) {
    WorkDir dir;
    const std::filesystem::path trace = dir.Path() / "trace.txt";
    const ScopedEnvironment tracing("ZENTROK_TRACE", trace.string());
    EXPECT_EQ(qen_InitComm(39, 1), nullptr);  // no device behind COM39
    DeviceDouble untaken(31);                 // its message is never taken
    DeviceDouble partial(32);                 // the message and one of its two entries are taken
    DeviceDouble late(33);                    // its message is taken late, yet within the wait
    const QenHandle untakenPort = qen_InitComm(untaken.PortNumber(), 1);
    const QenHandle partialPort = qen_InitComm(partial.PortNumber(), 1);
    const QenHandle latePort = qen_InitComm(late.PortNumber(), 1);
    ASSERT_NE(untakenPort, nullptr);
    ASSERT_NE(partialPort, nullptr);
    ASSERT_NE(latePort, nullptr);

    const auto sent = Clock::now();
    untaken.SendTelegram(kPlainMessage);
    partial.SendTelegram(kThreeEntries);
    late.SendTelegram(kPlainMessage);

    QenMsg msg = PatternMsg();
    ASSERT_TRUE(AwaitMsg(partialPort, msg));
    EXPECT_EQ(TextOf(msg.Text), "    AAA");
    ASSERT_EQ(qen_GetMsg(partialPort, &msg), 1);
    EXPECT_EQ(TextOf(msg.Text), "    BBB");

    ServeHostThreadUntil(sent + kHandOffWait * 5 / 7);
    ASSERT_EQ(qen_GetMsg(latePort, &msg), 1) << "the message was withdrawn before 5/7 of the hand-off wait";
    EXPECT_EQ(late.Receive(1, kExpectWithin), std::string(1, kAck));

    ServeHostThreadUntil(sent + kHandOffWait * 9 / 7);
    EXPECT_EQ(untaken.ReceiveFor(50ms), "") << "a message never taken was acknowledged";
    EXPECT_EQ(partial.ReceiveFor(50ms), "") << "a telegram taken only in part was acknowledged";
    msg = PatternMsg();
    EXPECT_EQ(qen_GetMsg(untakenPort, &msg), 0) << "the message was not withdrawn";
    EXPECT_EQ(qen_GetMsg(partialPort, &msg), 0) << "the remaining entry was not discarded";
    EXPECT_TRUE(SameBytes(msg, PatternMsg()));

    // The next telegrams go through normally, with nothing left over.
    const Exchange single = ExchangeTelegram(untaken, untakenPort, "1083xxxx00ABCD TCXYZ");
    EXPECT_TRUE(single.acknowledged);
    ASSERT_EQ(single.items.size(), 1u);
    EXPECT_EQ(single.items[0].Number, 8);

    const Exchange entries = ExchangeTelegram(partial, partialPort, "S091#2A4F/Eri34/DDD/FFF]");
    EXPECT_TRUE(entries.acknowledged);
    ASSERT_EQ(entries.items.size(), 2u);
    EXPECT_EQ(TextOf(entries.items[0].Text), "    DDD");
    EXPECT_EQ(TextOf(entries.items[1].Text), "    FFF");
    EXPECT_EQ(CodeOf(entries.items[1].Code), "34");

    for (QenHandle port : {untakenPort, partialPort, latePort}) qen_CloseComm(port);
    EXPECT_EQ(untaken.ReceiveFor(kQuietWindow) + partial.ReceiveFor(kQuietWindow), "");

    const std::vector<std::string> failed = TracedEvents(trace, 39);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].rfind("did not open ", 0), 0u) << failed[0];
    EXPECT_NE(failed[0].find(": missing ("), std::string::npos) << failed[0];
    const std::string withdrawn = "message withdrawn after " + std::to_string(kHandOffWaitMs) +
                                  " ms: the host did not take it and its entries; telegram ";
    for (const auto& [port, telegram] : {std::pair{31, kPlainMessage}, {32, kThreeEntries}, {33, std::string_view()}}) {
        const std::vector<std::string> events = TracedEvents(trace, port);
        ASSERT_GE(events.size(), 3u) << "port " << port;
        EXPECT_EQ(events.front().rfind("opened ", 0), 0u) << events.front();
        // Defaults without Rn.ini; a pseudo terminal always keeps 8 data bits.
        EXPECT_TRUE(HasEvent(events,
                             "line settings of RecNr1: asked 300 baud, 7 data bits, no parity, 1 stop bit, "
                             "no flow control; the device reports "));
        EXPECT_NE(events[1].find("; differs: DataBit"), std::string::npos) << events[1];
        EXPECT_EQ(HasEvent(events, withdrawn + '"' + std::string(telegram) + "\" not acknowledged"), !telegram.empty())
            << "port " << port;
        EXPECT_EQ(events.back().rfind("closed in ", 0), 0u) << events.back();
    }
}

}  // namespace
}  // namespace zentrok::test
