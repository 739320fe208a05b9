// The hand-off wait runs out: what the host has not taken within it is
// withdrawn and the telegram stays unacknowledged, while a take well within
// it is still acknowledged. Three ports share one run of the wait.
#include <gtest/gtest.h>

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
    DeviceDouble untaken(31);   // its message is never taken
    DeviceDouble partial(32);   // the message and one of its two entries are taken
    DeviceDouble late(33);      // its message is taken late, yet within the wait
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

    ServeHostThreadUntil(sent + 5000ms);
    ASSERT_EQ(qen_GetMsg(latePort, &msg), 1) << "the message was withdrawn before 5000 ms";
    EXPECT_EQ(late.Receive(1, kExpectWithin), std::string(1, kAckByte));

    ServeHostThreadUntil(sent + 9000ms);
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
}

}  // namespace
}  // namespace zentrok::test
