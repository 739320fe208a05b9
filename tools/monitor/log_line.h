// Lines of the driver's telegram log: "<time text> <telegram>", the time
// text written in the regional format of the machine that logged it.
#pragma once

#include <string>
#include <string_view>

namespace zentrok::monitor {

inline constexpr char kNoTimeText[] = "no time text at the start of the line";

struct LogLine {
    std::string_view TimeText;
    std::string_view Telegram;
};

// Splits one line (without its line end). The time text is a clock
// h[h]<sep>mm<sep>ss, the separator being up to three characters other than
// digits (":", ".", " h "); a 12-hour clock adds a designator word without
// digits, before or after it, separated by one blank. Exactly one blank
// follows the time text; everything after it is the telegram. Returns false
// with `problem` set when the line has no time text or no telegram.
bool SplitLogLine(std::string_view line, LogLine& result, std::string& problem);

}  // namespace zentrok::monitor
