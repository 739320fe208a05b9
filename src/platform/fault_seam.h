// Faults that the serial port layer reports as if the system had, for the
// tests of what the driver does with them: neither Wine nor a pseudo
// terminal produces line errors or the error codes of a removed adapter.
// Only driver objects built with ZENTROK_FAULT_SEAM have the seam; in the
// library every query below is a constant "no fault".
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zentrok::platform::fault_seam {

// The system calls a fault can stand in for.
enum class Call {
    Read,    // ReadFile; read()
    Write,   // WriteFile; write()
    Status,  // ClearCommError; the error counters (TIOCGICOUNT)
};

#ifdef ZENTROK_FAULT_SEAM
// Test side: the next `call`, on any port, fails with `systemCode` (a
// Windows error code, or an errno on POSIX).
void FailNext(Call call, std::uint32_t systemCode);
// Test side: the next taking of line errors reports `errors` as well.
void ReportLineErrors(const LineErrors& errors);

// Port side: the failure injected for `call`, taken; 0 when none.
std::uint32_t TakeFailure(Call call);
// Port side: the line errors injected, taken.
LineErrors TakeLineErrors();
#else
inline std::uint32_t TakeFailure(Call) { return 0; }
inline LineErrors TakeLineErrors() { return {}; }
#endif

}  // namespace zentrok::platform::fault_seam
