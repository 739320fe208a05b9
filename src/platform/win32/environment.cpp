// The process environment and the system's error texts.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/system_error.h"

namespace zentrok::platform {

// Read from the process's environment block, not the C runtime's copy, so a
// variable the host set with SetEnvironmentVariable counts as well.
std::string EnvironmentValue(const char* name) {
    char small[512];
    const DWORD size = GetEnvironmentVariableA(name, small, sizeof small);
    if (size == 0) return "";
    if (size < sizeof small) return std::string(small, size);
    std::string value(size, '\0');
    const DWORD got = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(got < size ? got : 0);
    return value;
}

std::string SystemErrorText(unsigned long code) {
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) --length;
    const std::string number = "error " + std::to_string(code);
    return length ? std::string(text, length) + " (" + number + ")" : number;
}

}  // namespace zentrok::platform
