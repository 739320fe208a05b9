// A host's record filled with one byte pattern before a call, so that a test
// sees which of its bytes the call wrote: the driver writes only the fields
// of what it delivers, and nothing for a call that delivers nothing.
// Header-only: the programs that load the library by name use it too.
#pragma once

#include <cstring>

#include "zentrok.h"

namespace zentrok::test {

inline constexpr unsigned char kRecordPattern = 0xA5;

inline QenMsg PatternMsg() {
    QenMsg msg;
    std::memset(&msg, kRecordPattern, sizeof msg);
    return msg;
}

inline bool SameBytes(const QenMsg& a, const QenMsg& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace zentrok::test
