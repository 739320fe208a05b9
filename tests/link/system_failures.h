// Failures a serial driver reports when a read fails, as the system's own
// codes: the ones that mean the device has gone, and ones that pass.
#pragma once

#include <cstdint>
#include <vector>

namespace zentrok::test {

struct ReadFailure {
    const char* name;
    std::uint32_t readCode;    // the read fails with this
    std::uint32_t statusCode;  // then the status call (ClearCommError) fails with this; 0: it works
    bool gone;                 // what the driver must make of it
};

std::vector<ReadFailure> ReadFailures();

}  // namespace zentrok::test
