// The simulator's telegram scripts: escapes, comments, malformed lines.
#include <gtest/gtest.h>

#include <sstream>

#include "sim/script.h"

namespace zentrok::sim {
namespace {

Script Parse(const std::string& text) {
    std::istringstream in(text);
    return ParseScript(in);
}

TEST(ScriptTest, EscapesBecomeTheirBytes) {
    const Script script = Parse(R"(A\x41\x0a\xFf\\\t\r\n\eZ)");
    ASSERT_FALSE(script.Error);
    ASSERT_EQ(script.Telegrams.size(), 1u);
    EXPECT_EQ(script.Telegrams[0].Bytes, std::string("AA\x0a\xff\\\t\r\n\x14Z"));
}

TEST(ScriptTest, CommentsAndBlankLinesAreSkippedButCounted) {
    const Script script = Parse("# heading\n\n   \n\t\n107A\r\n  # not a comment\n1#2\n");
    ASSERT_FALSE(script.Error);
    ASSERT_EQ(script.Telegrams.size(), 3u);
    EXPECT_EQ(script.Telegrams[0].Line, 5);
    EXPECT_EQ(script.Telegrams[0].Bytes, "107A");  // CR of a CR LF line end dropped
    EXPECT_EQ(script.Telegrams[1].Line, 6);
    EXPECT_EQ(script.Telegrams[1].Bytes, "  # not a comment");
    EXPECT_EQ(script.Telegrams[2].Bytes, "1#2");
}

TEST(ScriptTest, BlanksInsideAndAroundATelegramAreKept) {
    const Script script = Parse(" 107A      3F2C XB1  \n");
    ASSERT_EQ(script.Telegrams.size(), 1u);
    EXPECT_EQ(script.Telegrams[0].Bytes, " 107A      3F2C XB1  ");
}

TEST(ScriptTest, TheFirstMalformedLineIsReportedWithItsNumber) {
    struct Case {
        const char* line;
        const char* problem;
    };
    const Case cases[] = {
        {R"(12\q4)", "unknown escape \\q"},      {R"(12\x4)", "two hexadecimal digits"},
        {R"(12\x4G)", "two hexadecimal digits"}, {R"(12\)", "end of the line"},
        {R"(\E)", "unknown escape \\E"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Script script = Parse(std::string("107A\n# comment\n") + c.line + "\n\\q\n");
        ASSERT_TRUE(script.Error);
        EXPECT_EQ(script.Error->Line, 3);
        EXPECT_NE(script.Error->Message.find(c.problem), std::string::npos) << script.Error->Message;
    }
}

TEST(ScriptTest, ErrorNamesTheColumnOfTheBadEscape) {
    const Script script = Parse("abc\\z");
    ASSERT_TRUE(script.Error);
    EXPECT_NE(script.Error->Message.find("column 4"), std::string::npos) << script.Error->Message;
}

TEST(ScriptTest, EscapedTelegramsReadBackUnchanged) {
    std::string everyByte;
    for (int byte = 1; byte < 256; ++byte) everyByte += static_cast<char>(byte);
    const std::string telegrams[] = {everyByte, "#1", "   ", " \t", "a\\eb", std::string(1, '\0'), "S07\x14"};
    for (const std::string& telegram : telegrams) {
        const Script script = Parse(Escaped(telegram) + "\n");
        ASSERT_FALSE(script.Error) << Escaped(telegram);
        ASSERT_EQ(script.Telegrams.size(), 1u) << Escaped(telegram);
        EXPECT_EQ(script.Telegrams[0].Bytes, telegram);
    }
}

TEST(ScriptTest, ExpectedAcksFollowTheType) {
    EXPECT_EQ(ExpectedAcks("001"), 2);
    EXPECT_EQ(ExpectedAcks("0"), 2);
    EXPECT_EQ(ExpectedAcks("107A"), 1);
    EXPECT_EQ(ExpectedAcks("S07"), 1);
    EXPECT_EQ(ExpectedAcks(" 0"), 1);
    EXPECT_EQ(ExpectedAcks(""), 0);  // the driver ignores an empty telegram
}

TEST(ScriptTest, SamplesHoldEveryTelegramType) {
    const Script samples = SampleScript();
    ASSERT_FALSE(samples.Error);
    std::string types;
    for (const ScriptTelegram& telegram : samples.Telegrams) types += telegram.Bytes.front();
    for (const char type : {'0', '1', '3', '5', 'S'}) EXPECT_NE(types.find(type), std::string::npos) << type;
    EXPECT_NE(types.find_first_not_of("0135S"), std::string::npos) << "no telegram of an unknown type";
}

}  // namespace
}  // namespace zentrok::sim
