// The data bits and parity the driver asked the line for. A pseudo terminal
// always keeps 8 data bits without parity, so these can only be seen in the
// request itself: a POSIX build intercepts tcsetattr; a Windows build under
// Wine cannot see the request and checks the line's other settings only.
#pragma once

#include <cstddef>

namespace zentrok::test {

enum Parity { kNoParity, kOddParity, kEvenParity, kMarkParity, kSpaceParity };

struct Framing {
    int dataBits = 0;  // 5..8
    Parity parity = kNoParity;
};

// False where requests cannot be seen; the other two then report none.
bool FramingRequestsVisible();
// How many line settings the driver has requested so far.
std::size_t FramingRequests();
Framing LastRequestedFraming();

}  // namespace zentrok::test
