// The telegram log's file names by ten-day period, and a log file that
// cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "link/telegram_log.h"
#include "link_harness.h"
#include "platform/platform.h"

namespace zentrok::test {
namespace {

QenSystemTime Date(int year, int month, int day) {
    QenSystemTime date{};
    date.wYear = static_cast<std::uint16_t>(year);
    date.wMonth = static_cast<std::uint16_t>(month);
    date.wDay = static_cast<std::uint16_t>(day);
    return date;
}

std::string TodaysLogName() { return TelegramLogName(platform::LocalNow()); }

TEST(LogNameTest, OneFilePerMonthAndTenDayPeriod) {
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 1)), "./Qenlog/202103_1.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 9)), "./Qenlog/202103_1.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 10)), "./Qenlog/202103_2.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 19)), "./Qenlog/202103_2.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 20)), "./Qenlog/202103_3.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 29)), "./Qenlog/202103_3.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 30)), "./Qenlog/202103_4.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 3, 31)), "./Qenlog/202103_4.zqa");
    EXPECT_EQ(TelegramLogName(Date(2024, 2, 29)), "./Qenlog/202402_3.zqa");
    // The month always takes two digits; the year is written in full.
    EXPECT_EQ(TelegramLogName(Date(2021, 9, 30)), "./Qenlog/202109_4.zqa");
    EXPECT_EQ(TelegramLogName(Date(2021, 10, 1)), "./Qenlog/202110_1.zqa");
    EXPECT_EQ(TelegramLogName(Date(2020, 12, 31)), "./Qenlog/202012_4.zqa");
    EXPECT_EQ(TelegramLogName(Date(1999, 1, 5)), "./Qenlog/199901_1.zqa");
    EXPECT_EQ(TelegramLogName(Date(2100, 11, 19)), "./Qenlog/210011_2.zqa");
}

TEST_F(LogTest, ReadOnlyLogFileIsLeftUnchanged) {
    const std::string name = TodaysLogName();
    const std::string earlier = "00:00:00 earlier\r\n";
    {
        std::ofstream file(name, std::ios::binary);
        file << earlier;
    }
    ASSERT_EQ(chmod(name.c_str(), 0444), 0);
    SendAndAwaitAck(kRejected);
    EXPECT_EQ(ReadFileBytes(name), earlier);

    // Writable again, the same file is appended to, never replaced.
    ASSERT_EQ(chmod(name.c_str(), 0644), 0);
    SendAndAwaitAck(kRejected);
    EXPECT_EQ(LoggedTelegrams(dir_), (std::vector<std::string>{"earlier", std::string(kRejected)}));
}

}  // namespace
}  // namespace zentrok::test
