// Numbers as text, for telegram fields (DecValue, HexValue) and for
// "Rn.ini" values (NumberRule::Whole), and field copying of the layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "decode/conversions.h"
#include "decode/telegram_decoder.h"

namespace zentrok {
namespace {

using namespace std::string_view_literals;

TEST(DecValue, ReadsSignedDecimalAfterLeadingBlanks) {
    EXPECT_EQ(DecValue("07"), 7);
    EXPECT_EQ(DecValue(" 5"), 5);
    EXPECT_EQ(DecValue("-9"), -9);
    EXPECT_EQ(DecValue("+7"), 7);
    EXPECT_EQ(DecValue("   -12"), -12);
    EXPECT_EQ(DecValue("2147483647"), INT32_MAX);
    // Nothing to read is 0, never an error.
    EXPECT_EQ(DecValue(""), 0);
    EXPECT_EQ(DecValue("  "), 0);
    EXPECT_EQ(DecValue("-"), 0);
    EXPECT_EQ(DecValue("A5"), 0);
    EXPECT_EQ(DecValue("\0\0"sv), 0);
}

TEST(DecValue, SignCountsOnlyWhenTheDigitsRunToTheEnd) {
    EXPECT_EQ(DecValue("5A"), 5);
    EXPECT_EQ(DecValue("-5A"), 5);
    EXPECT_EQ(DecValue("-5 "), 5);
    EXPECT_EQ(DecValue("-12/"), 12);
    EXPECT_EQ(DecValue("1 2"), 1);
    EXPECT_EQ(DecValue("- 5"), 0);
    EXPECT_EQ(DecValue("+-5"), 0);
    EXPECT_EQ(DecValue("5\0"sv), 5);
}

TEST(DecValue, DollarOrXPrefixReadsHexadecimal) {
    EXPECT_EQ(DecValue("$1F"), 0x1F);
    EXPECT_EQ(DecValue("x1f"), 0x1F);
    EXPECT_EQ(DecValue("X10"), 0x10);
    EXPECT_EQ(DecValue("0x1A"), 0x1A);
    EXPECT_EQ(DecValue("0XfF"), 0xFF);
    EXPECT_EQ(DecValue("  $7"), 7);
    EXPECT_EQ(DecValue("$FFFFFFFF"), -1);
    EXPECT_EQ(DecValue("$1G"), 1);
    EXPECT_EQ(DecValue("$"), 0);
    EXPECT_EQ(DecValue("0x"), 0);
    // No blank is skipped after the prefix, and no sign may precede it.
    EXPECT_EQ(DecValue("$ 5"), 0);
    EXPECT_EQ(DecValue("-$5"), 0);
    EXPECT_EQ(DecValue("-x5"), 0);
    // "0" followed by anything but x is plain decimal.
    EXPECT_EQ(DecValue("0 x1"), 0);
    EXPECT_EQ(DecValue("010"), 10);
}

// An "Rn.ini" value: the same forms, but the whole text or nothing.
NumberValue Whole(std::string_view text) { return ReadNumber(text, NumberRule::Whole); }

TEST(ReadNumberWhole, DecimalWithSignOrHexadecimalAfterAPrefix) {
    for (const auto& [text, value] : std::initializer_list<std::pair<const char*, std::int32_t>>{
             {"9600", 9600},
             {"  +42", 42},
             {"-7", -7},
             {"0x2580", 9600},
             {"X2580", 9600},
             {"$ff", 255},
             {"$FFFFFFFF", -1},  // hexadecimal fills all 32 bits
             {"2147483647", INT32_MAX},
             {"-2147483648", INT32_MIN}}) {
        EXPECT_EQ(Whole(text).Status, NumberStatus::Number) << '"' << text << '"';
        EXPECT_EQ(Whole(text).Value, value) << '"' << text << '"';
    }
}

TEST(ReadNumberWhole, AnythingElseIsNotANumberAndTooLargeIsOutOfRange) {
    for (const char* text :
         {"", "   ", "9600x", "9600 baud", "$", "0x", "-0x10", "1e3", "+", "--1", "99999999999x", "$1FFFFFFFFG"})
        EXPECT_EQ(Whole(text).Status, NumberStatus::NotANumber) << '"' << text << '"';
    for (const char* text : {"2147483648", "-2147483649", "99999999999", "$100000000", "0x000000001FFFFFFFF"})
        EXPECT_EQ(Whole(text).Status, NumberStatus::OutOfRange) << '"' << text << '"';
    EXPECT_EQ(Whole("0x00000000FFFFFFFF").Value, -1) << "leading zeros do not count";
}

TEST(HexValue, ReadsLeadingHexDigitsOfEitherCase) {
    EXPECT_EQ(HexValue("3F2C"), 0x3F2C);
    EXPECT_EQ(HexValue("abcdef"), 0xABCDEF);
    EXPECT_EQ(HexValue("0C1"), 0xC1);
    EXPECT_EQ(HexValue("1A 2B "), 0x1A);
    EXPECT_EQ(HexValue("12G4"), 0x12);
    EXPECT_EQ(HexValue(""), 0);
    EXPECT_EQ(HexValue(" "), 0);
    EXPECT_EQ(HexValue(" 1"), 0);
    EXPECT_EQ(HexValue("G"), 0);
    EXPECT_EQ(HexValue("$1"), 0);
    EXPECT_EQ(HexValue("-1"), 0);
}

TEST(HexValue, KeepsAtMostEightSignificantDigitsAsA32BitPattern) {
    EXPECT_EQ(HexValue("FFFFFFFF"), -1);
    EXPECT_EQ(HexValue("7FFFFFFF"), INT32_MAX);
    EXPECT_EQ(HexValue("80000000"), INT32_MIN);
    EXPECT_EQ(HexValue("123456789"), 0x12345678);
    EXPECT_EQ(HexValue("123456789ABC"), 0x12345678);
    EXPECT_EQ(HexValue("10000000F"), 0x10000000);
    // Leading zeros are not significant.
    EXPECT_EQ(HexValue("0FFFFFFFF"), -1);
    EXPECT_EQ(HexValue("0000000000012"), 0x12);
    // The cut comes only at a ninth significant digit: 0FFFFFFF still takes one more.
    EXPECT_EQ(HexValue("0FFFFFFF1"), static_cast<std::int32_t>(0xFFFFFFF1u));
}

std::string Work(const DecodeContext& context) { return std::string(context.Work.View()); }

TEST(CopyField, CopiesAFieldAndDropsOnlyItsLeadingBlanks) {
    DecodeContext context;
    context.Telegram.Assign("1234  AB X Y  ");
    CopyField(context, 1, 3);
    EXPECT_EQ(Work(context), "123");
    CopyField(context, 5, 4);
    EXPECT_EQ(Work(context), "AB");
    CopyField(context, 9, 6);
    EXPECT_EQ(Work(context), "X Y  ");
    CopyField(context, 13, 2);
    EXPECT_EQ(Work(context), "");
    CopyField(context, 2, 0);
    EXPECT_EQ(Work(context), "");
}

TEST(CopyField, PositionsPastTheEndReadAsNulNotAsEarlierContent) {
    DecodeContext context;
    context.Telegram.Assign("ABCDEFGH");
    context.Telegram.Assign("AB");
    CopyField(context, 2, 3);
    EXPECT_EQ(Work(context), "B\0\0"sv);
    CopyField(context, 5, 2);
    EXPECT_EQ(Work(context), "\0\0"sv);

    // Blanks before the end still go; the NUL bytes after them stay.
    context.Telegram.Assign("1 ");
    CopyField(context, 2, 3);
    EXPECT_EQ(Work(context), "\0\0"sv);
}

}  // namespace
}  // namespace zentrok
