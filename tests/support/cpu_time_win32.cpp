#include <windows.h>

#include "cpu_time.h"

namespace zentrok::test {

// FILETIME counts 100-nanosecond units.
std::chrono::microseconds ProcessCpuTime() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto units = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 10;
    };
    return std::chrono::microseconds(units(kernel) + units(user));
}

}  // namespace zentrok::test
