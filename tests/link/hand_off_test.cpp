// Retrieval of a port's message and queued entries through its hand-off:
// what each delivery writes into the host's record, in which order items
// come, and when the taken signal is given.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "decoder_fixture.h"
#include "host_record.h"
#include "link/hand_off.h"

namespace zentrok::test {
namespace {

// Telegrams are decoded on the fixture's port state, as the reader does.
using HandOffRetrieval = DecoderTest;

// A message and two queued entries: "12"/" Hall A", "03"/"   gate", "07"/"      9".
constexpr std::string_view kThreeItems = "S071#2A4F/Eri12/Hall A/ri03/gate/Nda5/x/Eri7/9]";

using RecordBytes = std::array<std::uint8_t, sizeof(QenMsg)>;

RecordBytes BytesOf(const QenMsg& msg) {
    RecordBytes bytes;
    std::memcpy(bytes.data(), &msg, bytes.size());
    return bytes;
}

// Writes the length byte and exactly those characters, nothing after them.
template <typename ShortField>
void WriteShort(ShortField& field, std::string_view chars) {
    field.Length = static_cast<std::uint8_t>(chars.size());
    std::memcpy(field.Chars, chars.data(), chars.size());
}

// The host's record after the delivery of a message.
RecordBytes MessageImage(std::int32_t number, std::uint16_t channel, std::int32_t ident, std::string_view code,
                         std::string_view text, const QenSystemTime& stamp) {
    QenMsg msg = PatternMsg();
    msg.Number = number;
    msg.Channel = channel;
    msg.Ident = ident;
    WriteShort(msg.Code, code);
    WriteShort(msg.Text, text);
    msg.Stamp = stamp;
    return BytesOf(msg);
}

// The host's record after the delivery of a queued entry: Number and Stamp
// keep the host's bytes.
RecordBytes EntryImage(std::uint16_t channel, std::int32_t ident, std::string_view code, std::string_view text) {
    QenMsg msg = PatternMsg();
    msg.Channel = channel;
    msg.Ident = ident;
    WriteShort(msg.Code, code);
    WriteShort(msg.Text, text);
    return BytesOf(msg);
}

PendingEntry Entry(std::string_view nineChars) {
    PendingEntry entry;
    std::memcpy(entry.data(), nineChars.data(), entry.size());
    return entry;
}

// One delivery into a freshly patterned record; the record's bytes after it.
RecordBytes DeliverOne(HandOff& handOff, bool& delivered) {
    QenMsg host = PatternMsg();
    delivered = handOff.Deliver(host);
    return BytesOf(host);
}

TEST_F(HandOffRetrieval, IdlePortDeliversNothing) {
    HandOff handOff;
    bool delivered = true;
    EXPECT_EQ(DeliverOne(handOff, delivered), BytesOf(PatternMsg()));
    EXPECT_FALSE(delivered);
    EXPECT_FALSE(handOff.WaitTaken(0));

    // Ending a hand-off that announced nothing leaves the port idle.
    handOff.Withdraw();
    EXPECT_EQ(DeliverOne(handOff, delivered), BytesOf(PatternMsg()));
    EXPECT_FALSE(delivered);
}

TEST_F(HandOffRetrieval, MultiEntryTelegramDeliversMessageThenEntriesInOrder) {
    // Stamp words left by an earlier telegram; this one carries no time, yet
    // the host receives all 16 bytes as they stand.
    state.Msg.Stamp = {2023, 11, 2, 14, 8, 9, 10, 11};
    ASSERT_TRUE(Decode(kThreeItems));
    const QenSystemTime stamp = {QEN_NO_STAMP, 11, 2, 14, 8, 9, 10, 11};

    HandOff handOff;
    handOff.Announce(state);
    EXPECT_TRUE(state.Pending.Empty()) << "the entries move into the hand-off";

    bool delivered = false;
    EXPECT_EQ(DeliverOne(handOff, delivered), MessageImage(7, 1, 0x2A4F, "12", " HALL A", stamp));
    EXPECT_TRUE(delivered);
    EXPECT_FALSE(handOff.WaitTaken(0)) << "two entries are still queued";
    EXPECT_EQ(state.Msg.Text.Length, 7);
    EXPECT_EQ(std::string_view(state.Msg.Text.Chars, 7), " Hall A") << "only the host's copy is upper-cased";

    EXPECT_EQ(DeliverOne(handOff, delivered), EntryImage(1, 0x2A4F, "03", "   GATE"));
    EXPECT_TRUE(delivered);
    EXPECT_FALSE(handOff.WaitTaken(0)) << "one entry is still queued";

    EXPECT_EQ(DeliverOne(handOff, delivered), EntryImage(1, 0x2A4F, "07", "      9"));
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(handOff.WaitTaken(0)) << "the last item signals";
    EXPECT_FALSE(handOff.WaitTaken(0)) << "signalled exactly once";

    EXPECT_EQ(DeliverOne(handOff, delivered), BytesOf(PatternMsg()));
    EXPECT_FALSE(delivered);
    EXPECT_FALSE(handOff.WaitTaken(0));
}

TEST_F(HandOffRetrieval, SingleMessageSignalsAtOnceAndCopiesOnlyWhatItHolds) {
    state.Msg.Number = -9;
    state.Msg.Channel = 15;
    state.Msg.Ident = -1;
    // Short fields: characters past the length must not reach the host.
    state.Msg.Code = {1, {'q', 'x'}};
    state.Msg.Text = {3, {'a', 'b', 'c', 'd', 'e', 'f', 'g'}};
    state.Msg.Stamp = {2024, 8, 3, 7, 12, 34, 56, 400};
    state.Msg.Note = 0x11223344;

    HandOff handOff;
    handOff.Announce(state);
    bool delivered = false;
    EXPECT_EQ(DeliverOne(handOff, delivered), MessageImage(-9, 15, -1, "q", "ABC", state.Msg.Stamp));
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(handOff.WaitTaken(0));
    EXPECT_EQ(DeliverOne(handOff, delivered), BytesOf(PatternMsg()));
    EXPECT_FALSE(delivered);
    handOff.Withdraw();

    // A telegram of an unknown type gives empty Code and Text: only the two
    // length bytes are written.
    ASSERT_TRUE(Decode("Zany"));
    handOff.Announce(state);
    EXPECT_EQ(DeliverOne(handOff, delivered), MessageImage(0, 0, 0, "", "", state.Msg.Stamp));
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(handOff.WaitTaken(0));
}

TEST_F(HandOffRetrieval, UpperCasesOnlyLatinLetters) {
    state.Msg.Code = {2, {'a', 'z'}};  // codes are copied as they are
    state.Msg.Text = {7, {'`', 'a', 'z', '{', '\xE4', '\xFF', '@'}};
    state.GroupChannel = 4;
    state.GroupIdent = 0x7FFFFFFF;
    state.Pending.Push(Entry("x5m\xE9[`{~z"));
    state.Pending.Push(Entry(std::string("  \x80\xFA") + "aZ09 "));
    state.Pending.Push(Entry("99abcdefg"));

    HandOff handOff;
    handOff.Announce(state);
    bool delivered = false;
    EXPECT_EQ(DeliverOne(handOff, delivered), MessageImage(0, 0, 0, "az", "`AZ{\xE4\xFF@", state.Msg.Stamp));
    EXPECT_EQ(std::string_view(state.Msg.Text.Chars, 7), "`az{\xE4\xFF@");

    const std::int32_t ident = 0x7FFFFFFF;
    EXPECT_EQ(DeliverOne(handOff, delivered), EntryImage(4, ident, "x5", "M\xE9[`{~Z"));
    EXPECT_FALSE(handOff.WaitTaken(0));
    EXPECT_EQ(DeliverOne(handOff, delivered), EntryImage(4, ident, "  ", std::string("\x80\xFA") + "AZ09 "));
    EXPECT_FALSE(handOff.WaitTaken(0)) << "three entries: only the fourth call signals";
    EXPECT_EQ(DeliverOne(handOff, delivered), EntryImage(4, ident, "99", "ABCDEFG"));
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(handOff.WaitTaken(0));
    DeliverOne(handOff, delivered);
    EXPECT_FALSE(delivered);
}

TEST_F(HandOffRetrieval, NewAnnouncementIsDeliveredBeforeEarlierEntries) {
    ASSERT_TRUE(Decode(kThreeItems));
    HandOff handOff;
    handOff.Announce(state);
    bool delivered = false;
    DeliverOne(handOff, delivered);  // the message; its two entries stay queued
    ASSERT_TRUE(delivered);

    DecoderState second;
    second.Msg.Stamp = {2024, 1, 1, 1, 1, 1, 1, 1};
    ASSERT_TRUE(Decode(second, "S12C#00BEEF/Eri44/one/ri45/two]"));
    handOff.Announce(second);

    EXPECT_EQ(DeliverOne(handOff, delivered), MessageImage(12, 12, 0xBEEF, "44", "    ONE", second.Msg.Stamp));
    EXPECT_FALSE(handOff.WaitTaken(0));
    // What follows belongs to the new telegram alone: the earlier entries
    // would otherwise arrive under its Channel and Ident.
    EXPECT_EQ(DeliverOne(handOff, delivered), EntryImage(12, 0xBEEF, "45", "    TWO"));
    EXPECT_TRUE(handOff.WaitTaken(0));
    DeliverOne(handOff, delivered);
    EXPECT_FALSE(delivered);
}

TEST_F(HandOffRetrieval, WithdrawEndsTheHandOff) {
    ASSERT_TRUE(Decode(kThreeItems));
    HandOff handOff;
    bool delivered = false;

    // Nothing taken in time: the message itself is withdrawn.
    handOff.Announce(state);
    handOff.Withdraw();
    EXPECT_EQ(DeliverOne(handOff, delivered), BytesOf(PatternMsg()));
    EXPECT_FALSE(delivered);
    EXPECT_FALSE(handOff.WaitTaken(0));

    // Message taken, entries not: the rest is dropped.
    ASSERT_TRUE(Decode(kThreeItems));
    handOff.Announce(state);
    DeliverOne(handOff, delivered);
    ASSERT_TRUE(delivered);
    handOff.Withdraw();
    EXPECT_EQ(DeliverOne(handOff, delivered), BytesOf(PatternMsg()));
    EXPECT_FALSE(delivered);

    // Everything taken after the reader stopped waiting: the signal given
    // by the last item must not count for the next telegram.
    DecoderState single;
    single.Msg.Text = {7, {'a', 'b', 'c', 'd', 'e', 'f', 'g'}};
    handOff.Announce(single);
    DeliverOne(handOff, delivered);
    ASSERT_TRUE(delivered);
    handOff.Withdraw();
    EXPECT_FALSE(handOff.WaitTaken(0));

    // The next hand-off works as the first did.
    handOff.Announce(single);
    EXPECT_EQ(DeliverOne(handOff, delivered), MessageImage(0, 0, 0, "", "ABCDEFG", single.Msg.Stamp));
    EXPECT_TRUE(handOff.WaitTaken(0));
}

}  // namespace
}  // namespace zentrok::test
