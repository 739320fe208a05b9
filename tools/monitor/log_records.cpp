#include "monitor/log_records.h"

#include <optional>

#include "monitor/log_line.h"

namespace zentrok::monitor {
namespace {

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

void ReadLogRecords(std::istream& in, std::size_t maxTelegram, const std::function<void(const LogRecord&)>& telegram,
                    const std::function<void(int line, const std::string& problem)>& badLine) {
    std::optional<LogRecord> pending;
    std::string pendingBreak;  // how the pending telegram's last line ended
    const auto flush = [&] {
        if (pending) telegram(*pending);
        pending.reset();
    };
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const bool crlf = !line.empty() && line.back() == '\r';
        if (crlf) line.pop_back();
        if (IsBlank(line)) continue;
        LogLine parts;
        std::string problem;
        if (SplitLogLine(line, parts, problem)) {
            flush();
            if (parts.Telegram.size() > maxTelegram) {
                // Only a line cut by an older log's length limit, which then
                // runs on into the next, can be this long.
                badLine(number, "telegram longer than " + std::to_string(maxTelegram) + " characters");
                continue;
            }
            pending = LogRecord{number, number, std::string(parts.Telegram), std::string(parts.TimeText)};
        } else if (pending && problem == kNoTimeText &&
                   pending->Telegram.size() + pendingBreak.size() + line.size() <= maxTelegram) {
            pending->Telegram += pendingBreak + line;
            pending->LastLine = number;
        } else {
            flush();
            badLine(number, problem);
            continue;
        }
        pendingBreak = crlf ? "\r\n" : "\n";
    }
    flush();
}

}  // namespace zentrok::monitor
