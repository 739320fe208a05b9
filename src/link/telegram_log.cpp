#include "link/telegram_log.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace zentrok {
namespace {

// Appends of all ports go through one lock, so lines never interleave.
std::timed_mutex& LogLock() {
    static std::timed_mutex* lock = new std::timed_mutex;
    return *lock;
}

std::string TwoDigits(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02u", value);
    return text;
}

}  // namespace

std::string TelegramLogName(const QenSystemTime& date) {
    const unsigned period = (date.wDay + 10u) / 10u;  // days 1-9, 10-19, 20-29, 30-31
    char name[40];
    std::snprintf(name, sizeof name, date.wMonth < 10 ? "%u0%u_%u.zqa" : "%u%u_%u.zqa", unsigned{date.wYear},
                  unsigned{date.wMonth}, period);
    return platform::CurrentDirPath({"Qenlog", name});
}

std::string FormatTimeText(const platform::TimeFormat& format, const QenSystemTime& time) {
    unsigned hour = time.wHour;
    if (!format.Clock24) {
        hour %= 12;
        if (hour == 0) hour = 12;
    }
    std::string text = format.LeadingZero ? TwoDigits(hour) : std::to_string(hour);
    text += format.Separator + TwoDigits(time.wMinute) + format.Separator + TwoDigits(time.wSecond);
    if (format.Clock24) return text;
    const std::string& designator = time.wHour < 12 ? format.Am : format.Pm;
    return format.DesignatorFirst ? designator + ' ' + text : text + ' ' + designator;
}

bool AppendTelegramLog(std::string_view telegram, LocalClock clock, std::string* whyNot) {
    const std::string name = TelegramLogName(clock());
    if (telegram.find('@') != std::string_view::npos) return true;

    std::string line = FormatTimeText(platform::RegionalTimeFormat(), clock());
    line += ' ';
    line += telegram;
    line += "\r\n";
    // One budget for the wait behind the other ports and for the file: a log
    // that another process holds delays this telegram's ACK by at most
    // kLogWaitMs, however many ports wait for it too. A port that gets no
    // turn in time appends without it; the file's own lock still keeps the
    // lines apart.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kLogWaitMs);
    std::unique_lock<std::timed_mutex> turn(LogLock(), deadline);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return platform::AppendToFile(name, line.data(), line.size(), left > 0 ? static_cast<std::uint32_t>(left) : 0,
                                  whyNot);
}

}  // namespace zentrok
