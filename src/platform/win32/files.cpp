// Paths, the private-profile reader and appends to the telegram log.
#include <windows.h>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

// Values are read as text of up to 2047 characters.
constexpr DWORD kProfileBufferSize = 2048;

// Opens an existing file with read and write sharing; a missing one is
// created without sharing, and never in place of one that exists.
HANDLE OpenForAppend(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return file;
}

}  // namespace

std::string CurrentDirPath(std::initializer_list<std::string_view> parts) {
    std::string path = ".";
    for (std::string_view part : parts) {
        path += '\\';
        path += part;
    }
    return path;
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key) {
    char value[kProfileBufferSize];
    GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(), "", value, sizeof value,
                             path.c_str());
    return value;
}

bool AppendToFile(const std::string& path, const void* data, std::size_t size) {
    const HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    SetFilePointer(file, 0, nullptr, FILE_END);
    for (auto bytes = static_cast<const char*>(data); size > 0;) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written == 0) break;
        bytes += written;
        size -= written;
    }
    CloseHandle(file);
    return true;
}

}  // namespace zentrok::platform
