// The telegram log: one line per received telegram, in "Qenlog/YYYYMM_P.zqa"
// under the current directory, P being the ten-day period of the month.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zentrok {

using LocalClock = QenSystemTime (*)();

// The longest a telegram waits for its log line, in milliseconds, when
// another process holds the log file or its lock.
inline constexpr std::uint32_t kLogWaitMs = 250;

// The log file for `date`, relative to the current directory.
std::string TelegramLogName(const QenSystemTime& date);

// The time of day as the regional settings write it.
std::string FormatTimeText(const platform::TimeFormat& format, const QenSystemTime& time);

// Appends "<time> <telegram>\r\n" unless the telegram contains "@". A missing
// folder or a file that cannot be opened or written means no line: false,
// with `whyNot`, when given, saying why. Nothing else is reported.
bool AppendTelegramLog(std::string_view telegram, LocalClock clock = platform::LocalNow, std::string* whyNot = nullptr);

}  // namespace zentrok
