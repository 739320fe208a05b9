// The processor time this process has used so far, user and system.
#pragma once

#include <chrono>

namespace zentrok::test {

std::chrono::microseconds ProcessCpuTime();

}  // namespace zentrok::test
