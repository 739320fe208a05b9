// The system's words for a Windows error code, for diagnostics.
#pragma once

#include <string>

namespace zentrok::platform {

// "<message> (error <code>)"; just "error <code>" when the system has no text.
std::string SystemErrorText(unsigned long code);

}  // namespace zentrok::platform
