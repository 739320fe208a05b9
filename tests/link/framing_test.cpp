// Framing at the end character: what one read takes from the input queue,
// what is dropped, and what is left for the next telegram.
#include <gtest/gtest.h>

#include "environment.h"
#include "link_harness.h"

namespace zentrok::test {
namespace {

// The port is opened once the trace file is set.
class FramingTest : public PortTest<4> {
protected:
    const std::filesystem::path trace_ = dir_.Path() / "trace.txt";
    const ScopedEnvironment tracing_{"ZENTROK_TRACE", trace_.string()};
};

TEST_F(FramingTest, LoneEndCharacterIsIgnored) {
    device_.Send(std::string(1, kEndCharacter));
    EXPECT_EQ(ReceiveServing(device_, 1, kQuietWindow), "") << "an empty telegram was acknowledged";
    EXPECT_TRUE(LogFiles(dir_).empty()) << "an empty telegram was logged";

    ExpectPlainMessageIntact(device_, port_);
    EXPECT_EQ(LoggedTelegrams(dir_), std::vector<std::string>{std::string(kPlainMessage)});
}

TEST_F(FramingTest, OverlongBurstKeepsItsFirstLongestTelegram) {
    std::string burst = "1";  // type "1" of the wrong length: acknowledged at once
    for (int i = 0; burst.size() < 300; ++i) burst += static_cast<char>('a' + i % 26);
    device_.SendTelegram(burst);
    EXPECT_EQ(device_.Receive(1, kExpectWithin), std::string(1, kAck));

    // The bytes beyond the first read are gone: the next telegram is whole.
    ExpectPlainMessageIntact(device_, port_);
    EXPECT_EQ(LoggedTelegrams(dir_),
              (std::vector<std::string>{burst.substr(0, kMaxTelegramLength), std::string(kPlainMessage)}));
}

// The stray bytes, trickled in as a line delivers them, outlast an idle
// wait: without an overflow they stay, and nothing answers them.
TEST_F(FramingTest, StrayBytesBeginTheNextTelegram) {
    const std::string_view message = kPlainMessage;
    device_.Trickle(message.substr(0, 8));
    EXPECT_EQ(ReceiveServing(device_, 1, kIdleWait + 500ms), "") << "stray bytes were acknowledged";
    EXPECT_TRUE(LogFiles(dir_).empty());

    device_.SendTelegram(message.substr(8));
    QenMsg msg = PatternMsg();
    ASSERT_TRUE(AwaitMsg(port_, msg));
    EXPECT_EQ(msg.Number, 7);
    EXPECT_EQ(msg.Channel, 3);
    EXPECT_EQ(msg.Ident, 0xABCD);
    EXPECT_EQ(device_.Receive(1, kExpectWithin), std::string(1, kAck));
    EXPECT_EQ(LoggedTelegrams(dir_), std::vector<std::string>{std::string(message)});
}

// A real line delivers a telegram a byte at a time: each telegram still
// arrives whole, is answered as its kind asks, and is logged as one line.
TEST_F(FramingTest, TelegramsTrickledAByteAtATimeArriveWhole) {
    struct Case {
        std::string_view telegram;
        std::size_t items;
        std::size_t acks;
    };
    const Case cases[] = {{kPlainMessage, 1, 1}, {kRejected, 0, 1}, {kAckOnly, 0, 2}, {kThreeEntries, 3, 1}};
    std::vector<std::string> sent;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.telegram);
        device_.Trickle(std::string(c.telegram) + kEndCharacter);
        const Exchange exchange = AwaitAcks(device_, port_, c.acks);
        EXPECT_TRUE(exchange.acknowledged);
        EXPECT_EQ(exchange.items.size(), c.items);
        EXPECT_EQ(ReceiveServing(device_, 1, kQuietWindow), "") << "more ACK bytes than the telegram asks for";
        sent.emplace_back(c.telegram);
    }
    EXPECT_EQ(LoggedTelegrams(dir_), sent);
}

// A byte that follows the end character in the same burst is read with it;
// the last byte read is dropped instead, so the end character stays in the
// telegram and is decoded as part of it.
TEST_F(FramingTest, BytesAfterTheEndCharacterAreReadWithIt) {
    const std::string withEnd = std::string(kPlainMessage.substr(0, 19)) + kEndCharacter;
    device_.Send(withEnd + "Q");

    QenMsg msg = PatternMsg();
    ASSERT_TRUE(AwaitMsg(port_, msg));
    EXPECT_EQ(TextOf(msg.Text), std::string("   TXY") + kEndCharacter);
    EXPECT_EQ(device_.Receive(1, kExpectWithin), std::string(1, kAck));
    EXPECT_EQ(LoggedTelegrams(dir_), std::vector<std::string>{withEnd});

    ExpectPlainMessageIntact(device_, port_);
    EXPECT_EQ(LoggedTelegrams(dir_).size(), 2u);
}

// Far more bytes than the input queue holds, and no end character: the
// next idle line check purges the queue.
TEST_F(FramingTest, OverflowedQueueIsPurgedAfterAnIdleWait) {
    device_.Send(std::string(20000, 'Z'));
    ServeHostThread(kIdleWait + 1s);  // longer than one idle wait of the reader
    ExpectPlainMessageIntact(device_, port_);
    EXPECT_EQ(LoggedTelegrams(dir_), std::vector<std::string>{std::string(kPlainMessage)});
    EXPECT_TRUE(
        HasEvent(TracedEvents(trace_, device_.PortNumber()), "line errors: driver input queue overflow; input purged"));
}

}  // namespace
}  // namespace zentrok::test
