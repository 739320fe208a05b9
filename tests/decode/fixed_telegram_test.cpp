// Fixed-position telegrams (types "1", "3", "5"), their time stamps, the
// channel memory, and the types "0" and unknown.
#include <cstring>
#include <string>

#include "decoder_fixture.h"

namespace zentrok::test {
namespace {

using FixedTelegram = DecoderTest;

// Number 01, channel 5, Ident 1, and a time stamp when one is given.
std::string Type1(std::string_view stamp = {}) {
    return Line(stamp.empty() ? 20 : 34, {{1, "1015"}, {9, "000001"}, {16, "XB123"}, {21, stamp}});
}
// Type "3" with Number 01; `from15` fills positions 15 on (marker, code, text).
std::string Type3(char channel, std::string_view ident, std::string_view from15) {
    return Line(20, {{1, "301"}, {4, std::string_view(&channel, 1)}, {9, ident}, {15, from15}});
}
// A type "3" registration of `code` for `ident` on `channel`.
std::string Registration(char channel, std::string_view ident, std::string_view code) {
    return Type3(channel, ident, "ri  " + std::string(code));
}

TEST_F(FixedTelegram, Type1FieldsAtTheirPositions) {
    state.ChannelIdents[10] = 0x3F2C;
    ASSERT_TRUE(Decode(Line(20, {{1, "107A"}, {9, "  3F2C"}, {16, "XB123"}})));
    EXPECT_EQ(state.Msg.Number, 7);
    EXPECT_EQ(state.Msg.Channel, 10);
    EXPECT_EQ(state.Msg.Ident, 0x3F2C);
    EXPECT_EQ(Code(), " B");
    EXPECT_EQ(Text(), "   X123");
    EXPECT_EQ(state.Msg.Stamp.wYear, kNoStamp);
    EXPECT_EQ(state.ChannelIdents[10], 0);
}

TEST_F(FixedTelegram, Type5WithTimeStamp) {
    now = {2023, 11, 3, 7, 1, 2, 3, 789};
    ASSERT_TRUE(Decode(Line(34, {{1, "5123"}, {8, " 0C1"}, {12, "ABCDXY567"}, {21, "14:05/09/28/02"}})));
    EXPECT_EQ(state.Msg.Number, 12);
    EXPECT_EQ(state.Msg.Channel, 3);
    EXPECT_EQ(state.Msg.Ident, 0xC1);
    EXPECT_EQ(Code(), "XY");
    EXPECT_EQ(Text(), "ABCD567");
    const QenSystemTime& stamp = state.Msg.Stamp;
    EXPECT_EQ(stamp.wYear, 2023);
    EXPECT_EQ(stamp.wMonth, 2);
    EXPECT_EQ(stamp.wDay, 28);
    EXPECT_EQ(stamp.wHour, 14);
    EXPECT_EQ(stamp.wMinute, 5);
    EXPECT_EQ(stamp.wSecond, 9);
    // Day of week and milliseconds are the clock's, not the telegram date's.
    EXPECT_EQ(stamp.wDayOfWeek, 3);
    EXPECT_EQ(stamp.wMilliseconds, 789);

    // 30 February: no message.
    EXPECT_FALSE(Decode(Line(34, {{1, "5123"}, {8, " 0C1"}, {12, "ABCDXY567"}, {21, "14:05/09/30/02"}})));
    EXPECT_EQ(state.Msg.Stamp.wYear, kNoStamp);
}

TEST_F(FixedTelegram, Type5WithIdentZeroKeepsBlankCode) {
    ASSERT_TRUE(Decode(Line(20, {{1, "5010"}, {8, "0000"}, {12, "ABCDXY567"}})));
    EXPECT_EQ(state.Msg.Ident, 0);
    EXPECT_EQ(Code(), "  ");
    EXPECT_EQ(Text(), "ABCD567");
}

TEST_F(FixedTelegram, FieldsFollowTheConversionRules) {
    ASSERT_TRUE(Decode(Line(20, {{1, "1"}, {9, "1A 2B "}})));
    EXPECT_EQ(state.Msg.Number, 0);    // two blanks
    EXPECT_EQ(state.Msg.Channel, 0);   // blank channel
    EXPECT_EQ(state.Msg.Ident, 0x1A);  // reading stops at the inner blank

    ASSERT_TRUE(Decode(Line(20, {{1, "1-9f"}})));
    EXPECT_EQ(state.Msg.Number, -9);
    EXPECT_EQ(state.Msg.Channel, 15);
    EXPECT_EQ(state.Msg.Ident, 0);  // six blanks

    ASSERT_TRUE(Decode(Line(20, {{1, "1$FG"}, {9, "FFFFFF"}})));
    EXPECT_EQ(state.Msg.Number, 15);
    EXPECT_EQ(state.Msg.Channel, 0);  // not a hexadecimal digit
    EXPECT_EQ(state.Msg.Ident, 0xFFFFFF);
}

TEST_F(FixedTelegram, OnlyLengths20And34AreDecoded) {
    const std::size_t lengths[] = {1, 19, 21, 33, 35, kMaxTelegramLength};
    for (const char type : {'1', '3', '5'}) {
        for (const std::size_t length : lengths) {
            SCOPED_TRACE(std::string(1, type) + " of length " + std::to_string(length));
            EXPECT_FALSE(Decode(Line(length, {{1, std::string_view(&type, 1)}})));
        }
    }
    EXPECT_EQ(acks, 0);
}

TEST_F(FixedTelegram, RejectedTelegramLeavesTheChannelMemoryAlone) {
    ASSERT_FALSE(Decode(Registration('F', "00ABCD", "K7")));
    EXPECT_FALSE(Decode(Line(21, {{1, "101F"}})));                          // length rule
    EXPECT_FALSE(Decode(Line(34, {{1, "101F"}, {21, "25:00/00/01/01"}})));  // invalid stamp
    ASSERT_TRUE(Decode(Type3('F', "00ABCD", "ok  55")));
    EXPECT_EQ(Code(), "K7");
}

TEST_F(FixedTelegram, StampRequiresAValidTimeAndDateOfTheClockYear) {
    struct Case {
        std::uint16_t Year;
        const char* Stamp;
        bool Valid;
    };
    // Two cases a line; clang-format would spread them unevenly.
    // clang-format off
    const Case cases[] = {
        {2024, "00:00/00/29/02", true},   {2023, "00:00/00/29/02", false},
        {2000, "00:00/00/29/02", true},   {1900, "00:00/00/29/02", false},
        {2100, "00:00/00/29/02", false},  {2400, "00:00/00/29/02", true},
        {2024, "00:00/00/30/02", false},  {2023, "00:00/00/28/02", true},
        {2024, "00:00/00/30/04", true},   {2024, "00:00/00/31/04", false},
        {2024, "00:00/00/31/12", true},   {2024, "00:00/00/32/01", false},
        {2024, "00:00/00/00/01", false},  {2024, "00:00/00/01/00", false},
        {2024, "00:00/00/01/13", false},  {2024, "23:59/59/01/01", true},
        {2024, "24:00/00/01/01", false},  {2024, "12:60/00/01/01", false},
        {2024, "12:00/60/01/01", false},  {2024, " 9: 5/ 7/ 1/ 3", true},
        {2024, "-1:00/00/01/01", false},  {2024, "$A:x1/00/01/01", true},
        {1, "00:00/00/01/01", true},      {0, "00:00/00/01/01", false},
        {9999, "00:00/00/31/12", true},   {10000, "00:00/00/01/01", false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Year) + " " + c.Stamp);
        now.wYear = c.Year;
        EXPECT_EQ(Decode(Type1(c.Stamp)), c.Valid);
        EXPECT_EQ(state.Msg.Stamp.wYear, c.Valid ? c.Year : kNoStamp);
    }
}

TEST_F(FixedTelegram, StampFieldsAreFoundFromTheFirstColon) {
    // No ":" at all, or one at position 2 (even with a valid time and date
    // after it): no valid stamp.
    EXPECT_FALSE(Decode(Type1("14 05 09 28 02")));
    EXPECT_FALSE(Decode(Line(34, {{1, "1:00 00 01 01"}, {21, "14:05/09/28/02"}})));

    // A ":" inside the first 20 positions wins over the one in the stamp.
    ASSERT_TRUE(Decode(Line(34, {{1, "1010"}, {5, "12:34 56 07 08"}, {21, "14:05/09/28/02"}})));
    EXPECT_EQ(state.Msg.Stamp.wHour, 12);
    EXPECT_EQ(state.Msg.Stamp.wMinute, 34);
    EXPECT_EQ(state.Msg.Stamp.wSecond, 56);
    EXPECT_EQ(state.Msg.Stamp.wDay, 7);
    EXPECT_EQ(state.Msg.Stamp.wMonth, 8);
    EXPECT_EQ(state.Msg.Ident, 4);  // positions 9-14 read "4 56 0"
}

TEST_F(FixedTelegram, StampFieldsPastTheEndReadAsNul) {
    // A long telegram first leaves "15/06/12" in the receive buffer at 35-42.
    EXPECT_FALSE(Decode(Line(42, {{1, "1"}, {35, "15/06/12"}})));

    // ":" at 28: day and month lie at 35-36 and 38-39, past the end, and read
    // as 0 rather than the 15 June left over.
    EXPECT_FALSE(Decode(Line(34, {{1, "1010"}, {26, "10:20/30/"}})));

    // ":" at 24: the month is position 34 followed by NUL, so 1, not the 11
    // that position 35 of the earlier telegram would make of it.
    ASSERT_TRUE(Decode(Line(34, {{1, "1010"}, {22, "10:20/30/15/1"}})));
    EXPECT_EQ(state.Msg.Stamp.wDay, 15);
    EXPECT_EQ(state.Msg.Stamp.wMonth, 1);
}

TEST_F(FixedTelegram, MessageWithoutTimeMarksOnlyTheYear) {
    ASSERT_TRUE(Decode(Type1("14:05/09/28/02")));
    ASSERT_EQ(state.Msg.Stamp.wYear, 2024);
    ASSERT_TRUE(Decode(Type1()));
    EXPECT_EQ(state.Msg.Stamp.wYear, kNoStamp);
}

TEST_F(FixedTelegram, RegistrationAndUseOnOneChannel) {
    // Registration: no message, the code is remembered for the ident.
    EXPECT_FALSE(Decode(Registration('F', "00ABCD", "K7")));
    EXPECT_EQ(state.ChannelIdents[15], 0xABCD);
    EXPECT_EQ(state.ChannelCodes[15].View(), "K7");

    ASSERT_TRUE(Decode(Type3('F', "00ABCD", "ok  55")));
    EXPECT_EQ(state.Msg.Number, 1);
    EXPECT_EQ(state.Msg.Channel, 15);
    EXPECT_EQ(Code(), "K7");
    EXPECT_EQ(Text(), "  ok 55");

    // The "r" variant replaces the second code character.
    ASSERT_TRUE(Decode(Type3('F', "00ABCD", "rx4455")));
    EXPECT_EQ(Code(), "Kx");
    EXPECT_EQ(Text(), "  44 55");

    // Another ident forgets the registration.
    ASSERT_TRUE(Decode(Type3('F', "001234", "ok  55")));
    EXPECT_EQ(Code(), "  ");
    EXPECT_EQ(state.ChannelIdents[15], 0);
    ASSERT_TRUE(Decode(Type3('F', "00ABCD", "ok  55")));
    EXPECT_EQ(Code(), "  ");
}

TEST_F(FixedTelegram, Types1And5AndSForgetTheRegistrationOfTheirChannelOnly) {
    const std::string forgetting[] = {
        Line(20, {{1, "1017"}}),
        Line(20, {{1, "5017"}}),
        "S017#1/]",
    };
    for (const std::string& telegram : forgetting) {
        SCOPED_TRACE(telegram);
        ASSERT_FALSE(Decode(Registration('7', "000042", "Q1")));
        ASSERT_FALSE(Decode(Registration('8', "000042", "Q2")));
        ASSERT_TRUE(Decode(telegram));
        ASSERT_TRUE(Decode(Type3('7', "000042", "ok  55")));
        EXPECT_EQ(Code(), "  ");
        ASSERT_TRUE(Decode(Type3('8', "000042", "ok  55")));
        EXPECT_EQ(Code(), "Q2");
    }
}

TEST_F(FixedTelegram, IdentZeroMatchesAForgottenOrNeverRegisteredChannel) {
    // Never registered: the code is empty, also in the "r" variant.
    ASSERT_TRUE(Decode(Type3('2', "000000", "ok  55")));
    EXPECT_EQ(state.Msg.Code.Length, 0);
    EXPECT_EQ(Text(), "  ok 55");
    ASSERT_TRUE(Decode(Type3('2', "000000", "rx4455")));
    EXPECT_EQ(state.Msg.Code.Length, 0);
    EXPECT_EQ(Text(), "  44 55");

    // Forgotten: the stale code stays with ident 0.
    ASSERT_FALSE(Decode(Registration('2', "00ABCD", "K7")));
    ASSERT_TRUE(Decode(Line(20, {{1, "1012"}})));
    ASSERT_TRUE(Decode(Type3('2', "000000", "ok  55")));
    EXPECT_EQ(Code(), "K7");
}

TEST_F(FixedTelegram, RegistrationMarkerIsExactLowerCaseRi) {
    ASSERT_TRUE(Decode(Type3('1', "000005", "RI  K7")));
    EXPECT_EQ(Text(), "  RI K7");
    EXPECT_EQ(state.ChannelIdents[1], 0);

    // A second registration on the channel replaces the first.
    ASSERT_FALSE(Decode(Registration('1', "000005", "K7")));
    ASSERT_FALSE(Decode(Registration('1', "000006", "M8")));
    ASSERT_TRUE(Decode(Type3('1', "000006", "ok  55")));
    EXPECT_EQ(Code(), "M8");
    ASSERT_TRUE(Decode(Type3('1', "000005", "ok  55")));
    EXPECT_EQ(Code(), "  ");
}

TEST_F(FixedTelegram, StampedRegistrationNeedsAValidStamp) {
    EXPECT_FALSE(Decode(Line(34, {{1, "3015"}, {9, "000009"}, {15, "ri  K7"}, {21, "14:05/09/30/02"}})));
    EXPECT_EQ(state.ChannelIdents[5], 0);
    EXPECT_FALSE(Decode(Line(34, {{1, "3015"}, {9, "000009"}, {15, "ri  K7"}, {21, "14:05/09/28/02"}})));
    EXPECT_EQ(state.ChannelIdents[5], 9);
    EXPECT_EQ(state.ChannelCodes[5].View(), "K7");
}

TEST_F(FixedTelegram, Type0SendsOneAckAndProducesNothing) {
    ASSERT_TRUE(Decode(Type1()));
    ASSERT_FALSE(Decode(Registration('3', "000042", "Q1")));
    const QenMsg before = state.Msg;

    EXPECT_FALSE(Decode("0"));
    EXPECT_EQ(acks, 1);
    EXPECT_FALSE(Decode(Line(20, {{1, "0013"}, {9, "000042"}})));
    EXPECT_EQ(acks, 2);
    EXPECT_EQ(std::memcmp(&state.Msg, &before, sizeof before), 0);
    EXPECT_EQ(state.ChannelIdents[3], 0x42);
}

TEST_F(FixedTelegram, UnknownTypeYieldsAnEmptyMessage) {
    for (const char* telegram : {"2", "4", "s010#1/Eri01/A]", "x", "\x80", "9999999999999999999999"}) {
        SCOPED_TRACE(telegram);
        ASSERT_TRUE(Decode(Type1("14:05/09/28/02")));
        ASSERT_TRUE(Decode(telegram));
        EXPECT_EQ(state.Msg.Number, 0);
        EXPECT_EQ(state.Msg.Channel, 0);
        EXPECT_EQ(state.Msg.Ident, 0);
        EXPECT_EQ(state.Msg.Code.Length, 0);
        EXPECT_EQ(state.Msg.Text.Length, 0);
        EXPECT_EQ(state.Msg.Stamp.wYear, kNoStamp);
    }
    EXPECT_EQ(acks, 0);
}

}  // namespace
}  // namespace zentrok::test
