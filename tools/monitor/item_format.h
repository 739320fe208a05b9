// How the monitor shows a delivered item: a table row or a JSON object.
#pragma once

#include <string>
#include <string_view>

#include "zentrok.h"

namespace zentrok::monitor {

// The API does not say whether an item is a message or a queued entry of the
// previous one. A queued entry leaves Number and Stamp as the host's record
// held them, so the record is filled with this pattern before each call: an
// item whose Number and Stamp bytes still hold it is a queued entry. A
// message always writes Number (-9..99), which never equals the pattern.
inline constexpr unsigned char kSentinelByte = 0xA5;

void FillSentinel(QenMsg& msg);
bool IsQueuedEntry(const QenMsg& msg);

// `text` in double quotes; quote and backslash after a backslash, bytes
// outside printable ASCII as \xHH.
std::string Quoted(std::string_view text);

// Column titles of TextRow; `received` adds the column of received times.
std::string TextHeader(bool received = false);

// One item as a table row (no line end): item number, telegram number,
// channel, ident in hex, code, text, time stamp, queued and, when given,
// the time its telegram was received ("received", as the log wrote it).
std::string TextRow(int item, const QenMsg& msg, const std::string* received = nullptr);

// One item as a JSON object on one line (no line end).
std::string JsonRow(int item, const QenMsg& msg, const std::string* received = nullptr);

}  // namespace zentrok::monitor
