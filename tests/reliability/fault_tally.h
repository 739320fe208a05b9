// The faults each test injects. The programs' main records, for every test,
// how many it injected and whether the driver survived them (the test
// passed), and writes the tally as JSON.
#pragma once

#include <cstdint>

namespace zentrok::test {

// Adds `count` faults to those the running test injected.
void CountFaults(std::int64_t count);

}  // namespace zentrok::test
