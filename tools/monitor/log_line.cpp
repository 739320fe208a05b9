#include "monitor/log_line.h"

namespace zentrok::monitor {
namespace {

constexpr std::size_t kMaxSeparator = 3;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsWord(std::string_view word) {
    if (word.empty()) return false;
    for (const char c : word)
        if (IsDigit(c)) return false;
    return true;
}

// Length of the separator run at `pos`: up to three characters other than digits.
std::size_t SeparatorAt(std::string_view text, std::size_t pos) {
    std::size_t end = pos;
    while (end < text.size() && end - pos < kMaxSeparator && !IsDigit(text[end])) ++end;
    return end - pos;
}

bool TwoDigitsAt(std::string_view text, std::size_t pos) {
    return pos + 1 < text.size() && IsDigit(text[pos]) && IsDigit(text[pos + 1]);
}

struct Clock {
    std::size_t End = 0;  // just past the seconds
    int Hour = 0;
};

// Matches h[h]<sep>mm<sep>ss at `pos`, both separators alike.
bool MatchClock(std::string_view text, std::size_t pos, Clock& clock) {
    std::size_t at = pos;
    while (at < text.size() && at - pos < 2 && IsDigit(text[at])) ++at;
    if (at == pos) return false;
    clock.Hour = std::stoi(std::string(text.substr(pos, at - pos)));

    const std::size_t separator = SeparatorAt(text, at);
    if (separator == 0) return false;
    const std::string_view first = text.substr(at, separator);
    at += separator;
    if (!TwoDigitsAt(text, at)) return false;
    at += 2;
    if (text.substr(at, separator) != first) return false;
    at += separator;
    if (!TwoDigitsAt(text, at)) return false;
    clock.End = at + 2;
    return true;
}

}  // namespace

bool SplitLogLine(std::string_view line, LogLine& result, std::string& problem) {
    Clock clock;
    std::size_t start = 0;  // of the clock
    if (line.empty() || !IsDigit(line.front())) {
        // A designator before the clock.
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos || !IsWord(line.substr(0, blank))) {
            problem = kNoTimeText;
            return false;
        }
        start = blank + 1;
    }
    if (!MatchClock(line, start, clock)) {
        problem = kNoTimeText;
        return false;
    }
    std::size_t end = clock.End;
    // A designator after the clock: a word without digits. Telegrams begin
    // with their type and number, so their first word nearly always has
    // digits; a line whose only word after the clock has none is reported
    // rather than read as a telegram.
    if (start == 0 && clock.Hour >= 1 && clock.Hour <= 12 && end < line.size() && line[end] == ' ') {
        std::size_t wordEnd = line.find(' ', end + 1);
        if (wordEnd == std::string_view::npos) wordEnd = line.size();
        if (IsWord(line.substr(end + 1, wordEnd - end - 1))) end = wordEnd;
    }
    if (end >= line.size() || line[end] != ' ') {
        problem = end >= line.size() ? "no telegram after the time text" : "no blank after the time text";
        return false;
    }
    if (end + 1 == line.size()) {
        problem = "no telegram after the time text";
        return false;
    }
    result.TimeText = line.substr(0, end);
    result.Telegram = line.substr(end + 1);
    return true;
}

}  // namespace zentrok::monitor
