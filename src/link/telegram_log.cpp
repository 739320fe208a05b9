#include "link/telegram_log.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace zentrok {
namespace {

// Appends of all ports go through one lock, so lines never interleave.
std::mutex& LogLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

// Takes the log lock unless `deadline` passes first. Looked at every
// millisecond rather than waited for with a time-out, which thread
// sanitizers do not follow; uncontended, it is one try.
std::unique_lock<std::mutex> TurnBefore(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> turn(LogLock(), std::try_to_lock);
    while (!turn.owns_lock() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        turn.try_lock();
    }
    return turn;
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
    const std::unique_lock<std::mutex> turn = TurnBefore(deadline);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return platform::AppendToFile(name, line.data(), line.size(), left > 0 ? static_cast<std::uint32_t>(left) : 0,
                                  whyNot);
}

}  // namespace zentrok
