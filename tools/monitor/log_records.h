// The telegrams of a log file, each with the lines it was written on.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <string>

namespace zentrok::monitor {

struct LogRecord {
    int FirstLine = 0;  // line numbers from 1
    int LastLine = 0;   // beyond FirstLine when the telegram held line breaks
    std::string Telegram;
    std::string TimeText;  // of its first line: when the telegram was received
};

// Reads a log line by line, passing each telegram to `telegram` and each
// unreadable line to `badLine`. The driver logs a telegram's bytes as they
// came, so a CR LF (or LF) inside one breaks its line: a line without a time
// text right after a telegram continues it, as long as the whole stays
// within `maxTelegram` characters. Blank lines are skipped.
void ReadLogRecords(std::istream& in, std::size_t maxTelegram, const std::function<void(const LogRecord&)>& telegram,
                    const std::function<void(int line, const std::string& problem)>& badLine);

}  // namespace zentrok::monitor
