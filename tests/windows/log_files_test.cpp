// Telegram log files through the Windows file API: where the line goes, which
// files are created, and which are left alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "link/telegram_log.h"
#include "platform/platform.h"
#include "work_dir.h"

namespace zentrok {
namespace {

using test::ReadFileBytes;
using test::WorkDir;

// 5 March 2021, 09:05:07 local time: period 1 of March.
QenSystemTime MarchFifth() {
    QenSystemTime time{};
    time.wYear = 2021;
    time.wMonth = 3;
    time.wDay = 5;
    time.wHour = 9;
    time.wMinute = 5;
    time.wSecond = 7;
    return time;
}

std::string LineFor(const std::string& telegram) {
    return FormatTimeText(platform::RegionalTimeFormat(), MarchFifth()) + " " + telegram + "\r\n";
}

class LogFiles : public ::testing::Test {
protected:
    std::filesystem::path LogFile() const { return dir_.LogFolderPath() / "202103_1.zqa"; }
    std::string LogPath() const { return LogFile().string(); }
    void Append(const std::string& telegram) { AppendTelegramLog(telegram, MarchFifth); }
    void Prefill(const std::string& content) const {
        const HANDLE file =
            CreateFileA(LogPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
    }

    WorkDir dir_;
};

TEST_F(LogFiles, NameIsRelativeWithBackslashes) { EXPECT_EQ(TelegramLogName(MarchFifth()), ".\\Qenlog\\202103_1.zqa"); }

TEST_F(LogFiles, MissingFileIsCreatedWithTheLineFirst) {
    Append("1073xxxx00ABCD TCXYZ");
    EXPECT_EQ(ReadFileBytes(LogFile()), LineFor("1073xxxx00ABCD TCXYZ"));
}

TEST_F(LogFiles, ExistingFileIsAppendedToAndNeverEmptied) {
    Prefill("earlier line\r\n");
    Append("first");
    Append("second");
    EXPECT_EQ(ReadFileBytes(LogFile()), "earlier line\r\n" + LineFor("first") + LineFor("second"));
}

TEST_F(LogFiles, BytesAreWrittenAsReceived) {
    // No text-mode translation: LF, Ctrl-Z and bytes above 0x7F pass unchanged.
    const std::string telegram = std::string("a\nb\x1A") + "c\xE9\xFF" + "\x14";
    Append(telegram);
    EXPECT_EQ(ReadFileBytes(LogFile()), LineFor(telegram));
}

TEST_F(LogFiles, TelegramWithAtSignCreatesNothing) {
    Append("1073@xxx00ABCD TCXYZ");
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(LogFiles, FileHeldOpenWithoutSharingIsLeftAsItWas) {
    Prefill("kept\r\n");
    const HANDLE holder =
        CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Append("lost");
    CloseHandle(holder);
    EXPECT_EQ(ReadFileBytes(LogFile()), "kept\r\n");
}

// A viewer that denies writing holds the file for a moment: the line waits
// for it rather than being lost.
TEST_F(LogFiles, FileHeldBrieflyWithoutWriteSharingGetsTheLineAfterwards) {
    Prefill("kept\r\n");
    const HANDLE viewer = CreateFileA(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    std::thread closer([viewer] {
        Sleep(60);
        CloseHandle(viewer);
    });
    Append("waited");
    closer.join();
    EXPECT_EQ(ReadFileBytes(LogFile()), "kept\r\n" + LineFor("waited"));
}

// The append reports whether the line was written; a file held open for
// good without sharing costs it a bounded wait and is left as it was.
TEST_F(LogFiles, AppendSaysWhetherTheLineWasWritten) {
    const std::string line = LineFor("counted");
    EXPECT_TRUE(platform::AppendToFile(LogPath(), line.data(), line.size(), kLogWaitMs));
    const HANDLE holder =
        CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(platform::AppendToFile(LogPath(), line.data(), line.size(), kLogWaitMs));
    CloseHandle(holder);
    EXPECT_EQ(ReadFileBytes(LogFile()), line);
}

// Ports that log at once while another process holds the file share one
// wait: none of their telegrams waits much beyond kLogWaitMs for its line.
TEST_F(LogFiles, PortsLoggingIntoAHeldFileShareOneBoundedWait) {
    Prefill("kept\r\n");
    const HANDLE holder =
        CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const DWORD start = GetTickCount();
    std::thread ports[4];
    for (std::thread& port : ports) port = std::thread([this] { Append("lost"); });
    for (std::thread& port : ports) port.join();
    const DWORD elapsed = GetTickCount() - start;
    CloseHandle(holder);
    EXPECT_LT(elapsed, 2 * kLogWaitMs) << "one port's wait was added to another's";
    EXPECT_EQ(ReadFileBytes(LogFile()), "kept\r\n");
}

TEST_F(LogFiles, FileHeldOpenWithReadAndWriteSharingIsAppendedTo) {
    Prefill("kept\r\n");
    const HANDLE reader =
        CreateFileA(LogPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    Append("logged");
    CloseHandle(reader);
    EXPECT_EQ(ReadFileBytes(LogFile()), "kept\r\n" + LineFor("logged"));
}

TEST_F(LogFiles, ReadOnlyFileIsNeitherWrittenNorReplaced) {
    Prefill("kept\r\n");
    ASSERT_TRUE(SetFileAttributesA(LogPath().c_str(), FILE_ATTRIBUTE_READONLY));
    const HANDLE writer = CreateFileA(LogPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        // Wine run as root keeps the attribute only as file permissions, which root may ignore.
        CloseHandle(writer);
        SetFileAttributesA(LogPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        GTEST_SKIP() << "this file system lets a read-only file be opened for writing";
    }
    Append("lost");
    SetFileAttributesA(LogPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFileBytes(LogFile()), "kept\r\n");
}

TEST(LogFolder, MissingFolderMeansNoLineAndNoFolder) {
    WorkDir dir(WorkDir::LogFolder::Missing);
    AppendTelegramLog("1073xxxx00ABCD TCXYZ", MarchFifth);
    EXPECT_FALSE(std::filesystem::exists(dir.LogFolderPath()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace
}  // namespace zentrok
