// Splitting telegram log lines into time text and telegram, for the
// regional time formats the driver may have written.
#include <gtest/gtest.h>

#include "monitor/log_line.h"

namespace zentrok::monitor {
namespace {

struct Split {
    std::string time;
    std::string telegram;
};

Split SplitOk(std::string_view line) {
    LogLine parts;
    std::string problem;
    EXPECT_TRUE(SplitLogLine(line, parts, problem)) << line << ": " << problem;
    return {std::string(parts.TimeText), std::string(parts.Telegram)};
}

std::string Problem(std::string_view line) {
    LogLine parts;
    std::string problem;
    EXPECT_FALSE(SplitLogLine(line, parts, problem)) << line;
    return problem;
}

TEST(LogLineTest, TimeFormats) {
    struct Case {
        const char* line;
        const char* time;
        const char* telegram;
    };
    const Case cases[] = {
        {"14:05:09 107A      3F2C XB123", "14:05:09", "107A      3F2C XB123"},
        {"9:05:07 107A", "9:05:07", "107A"},
        {"14.05.09 107A", "14.05.09", "107A"},
        {"14 h 05 h 09 107A", "14 h 05 h 09", "107A"},
        {"2:05:09 PM 107A", "2:05:09 PM", "107A"},
        {"12:00:00 a.m. S071#2A4F/Eri12/x]", "12:00:00 a.m.", "S071#2A4F/Eri12/x]"},
        {"PM 2:05:09 107A", "PM 2:05:09", "107A"},
        {"\xE5\x8D\x88\xE5\xBE\x8C 2:05:09 107A", "\xE5\x8D\x88\xE5\xBE\x8C 2:05:09", "107A"},
        {"2:05:09 nachm. 5123    0C1ABCDXY567", "2:05:09 nachm.", "5123    0C1ABCDXY567"},
    };
    for (const Case& c : cases) {
        const Split split = SplitOk(c.line);
        EXPECT_EQ(split.time, c.time) << c.line;
        EXPECT_EQ(split.telegram, c.telegram) << c.line;
    }
}

TEST(LogLineTest, OnlyOneBlankSeparatesTheTelegram) {
    EXPECT_EQ(SplitOk("14:05:09  107A").telegram, " 107A");
    EXPECT_EQ(SplitOk("2:05:09 PM  107A").telegram, " 107A");
    EXPECT_EQ(SplitOk("14:05:09 @").telegram, "@");
}

TEST(LogLineTest, WordsAfterA24HourClockBelongToTheTelegram) {
    // Hour 13 is no 12-hour clock, so "PM" is the telegram's first word.
    EXPECT_EQ(SplitOk("13:05:09 PM X").telegram, "PM X");
    // A first word with digits is a telegram's type and number.
    EXPECT_EQ(SplitOk("11:05:09 S07 1#2A/Eri1/x]").telegram, "S07 1#2A/Eri1/x]");
}

TEST(LogLineTest, LinesWithoutTimeText) {
    for (const char* line : {"", " ", "107A", "hello world", "14:05 107A", "14:05.09 107A", "123:05:09 107A",
                             "14:5:09 107A", "PM2:05:09 107A", " 14:05:09 107A"})
        EXPECT_EQ(Problem(line), "no time text at the start of the line") << '"' << line << '"';
}

TEST(LogLineTest, LinesWithoutTelegram) {
    for (const char* line : {"14:05:09", "14:05:09 ", "2:05:09 PM", "2:05:09 PM ", "PM 2:05:09", "PM 2:05:09 "})
        EXPECT_EQ(Problem(line), "no telegram after the time text") << '"' << line << '"';
    EXPECT_EQ(Problem("14:05:09X"), "no blank after the time text");
}

}  // namespace
}  // namespace zentrok::monitor
