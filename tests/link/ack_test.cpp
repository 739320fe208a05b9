// The acknowledgement handshake over a real line: which telegrams are
// answered at once, which only after the host has taken everything, and how
// many ACK bytes each one gets.
#include <gtest/gtest.h>

#include "link_harness.h"

namespace zentrok::test {
namespace {

using AckTest = PortTest<3>;

TEST_F(AckTest, MessageIsAcknowledgedOnlyAfterTheHostTakesIt) {
    device_.SendTelegram(kPlainMessage);
    EXPECT_EQ(ReceiveServing(device_, 1, kQuietWindow), "") << "ACK before the host took the message";

    QenMsg msg = PatternMsg();
    ASSERT_TRUE(AwaitMsg(port_, msg));
    EXPECT_EQ(msg.Number, 7);
    EXPECT_EQ(msg.Channel, 3);
    EXPECT_EQ(msg.Ident, 0xABCD);
    EXPECT_EQ(CodeOf(msg.Code), " C");
    EXPECT_EQ(TextOf(msg.Text), "   TXYZ");
    EXPECT_EQ(msg.Stamp.wYear, QEN_NO_STAMP);

    EXPECT_EQ(device_.Receive(1, kExpectWithin), std::string(1, kAck));
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "") << "more than one ACK for one telegram";
    EXPECT_EQ(qen_GetMsg(port_, &msg), 0) << "the message was delivered twice";
}

// None of these reach the host, so no qen_GetMsg is needed for their ACK.
TEST_F(AckTest, TelegramsWithNothingForTheHostAreAcknowledgedAtOnce) {
    QenMsg msg = PatternMsg();

    device_.SendTelegram(kRejected);
    EXPECT_EQ(device_.Receive(1, kExpectWithin), std::string(1, kAck)) << "rejected telegram";
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "");

    device_.SendTelegram(kAckOnly);
    EXPECT_EQ(device_.Receive(2, kExpectWithin), std::string(2, kAck)) << "type 0 gets two ACK bytes";
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "");

    device_.SendTelegram(kRegistration);
    EXPECT_EQ(device_.Receive(1, kExpectWithin), std::string(1, kAck)) << "registration";
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "");

    EXPECT_EQ(qen_GetMsg(port_, &msg), 0);
    EXPECT_TRUE(SameBytes(msg, PatternMsg()));

    // The registration is remembered for the channel's later telegrams.
    const Exchange later = ExchangeTelegram(device_, port_, kRegisteredUse);
    EXPECT_TRUE(later.acknowledged);
    ASSERT_EQ(later.items.size(), 1u);
    EXPECT_EQ(CodeOf(later.items[0].Code), "K9");
    EXPECT_EQ(later.items[0].Channel, 2);
}

TEST_F(AckTest, MultiEntryTelegramIsAcknowledgedAfterItsLastEntry) {
    device_.SendTelegram(kThreeEntries);
    QenMsg msg = PatternMsg();
    ASSERT_TRUE(AwaitMsg(port_, msg));
    EXPECT_EQ(CodeOf(msg.Code), "12");
    EXPECT_EQ(TextOf(msg.Text), "    AAA");
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "") << "ACK with two entries still queued";

    ASSERT_EQ(qen_GetMsg(port_, &msg), 1);
    EXPECT_EQ(TextOf(msg.Text), "    BBB");
    EXPECT_EQ(msg.Channel, 1);
    EXPECT_EQ(msg.Ident, 0x2A4F);
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "") << "ACK with one entry still queued";

    ASSERT_EQ(qen_GetMsg(port_, &msg), 1);
    EXPECT_EQ(TextOf(msg.Text), "    CCC");
    EXPECT_EQ(device_.Receive(1, kExpectWithin), std::string(1, kAck));
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "");
    EXPECT_EQ(qen_GetMsg(port_, &msg), 0);
}

// Every telegram re-arms the end-character wait: a long run of mixed
// telegrams is answered one by one, each delivering its own message.
TEST_F(AckTest, ConsecutiveTelegramsAreEachHandledOnce) {
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE(i);
        const std::string number = std::to_string(10 + i);
        const Exchange message = ExchangeTelegram(device_, port_, "1" + number + "3xxxx00ABCD TCXYZ");
        ASSERT_TRUE(message.acknowledged);
        ASSERT_EQ(message.items.size(), 1u);
        EXPECT_EQ(message.items[0].Number, 10 + i);

        const Exchange rejected = ExchangeTelegram(device_, port_, kRejected);
        ASSERT_TRUE(rejected.acknowledged);
        EXPECT_TRUE(rejected.items.empty());
    }
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "");
}

}  // namespace
}  // namespace zentrok::test
