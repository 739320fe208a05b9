// Paths, the private-profile reader and appends to the telegram log.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/system_error.h"

namespace zentrok::platform {
namespace {

// Values are read as text of up to 2047 characters.
constexpr DWORD kProfileBufferSize = 2048;

// An append waits at most this long for a file that a viewer holds open
// without write sharing and for the lock of another appender; the reader
// appends before it acknowledges, so this bounds what a log costs the line.
constexpr DWORD kAppendRetryMs = 10;

// Opens the file for appending only: with FILE_APPEND_DATA and without
// FILE_WRITE_DATA the system puts every write at the end of the file as it
// is at that moment, also while other processes append to it. A missing
// file is created, shared like an existing one and never in place of one
// that exists; when another process creates it first, that file is opened.
// Delete sharing lets the log be renamed or deleted (rotated) while a line
// is being written.
HANDLE OpenForAppend(const std::string& path) {
    constexpr DWORD kAccess = GENERIC_READ | FILE_APPEND_DATA;
    constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE file =
            CreateFileA(path.c_str(), kAccess, kSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) return file;
        file = CreateFileA(path.c_str(), kAccess, kSharing, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// One byte far beyond any log's content, locked by every append of this
// driver, in whatever process, for its write. Windows already puts each
// write of an append-only handle at the end; Wine does so by finding the end
// and then writing, which two processes can do at the same moment.
OVERLAPPED AppendLockRange() {
    OVERLAPPED range{};
    range.OffsetHigh = 0x40000000;
    return range;
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

// A file held without write sharing is tried again, and the lock waited
// for, until `waitMs` have passed; then the line is lost (sharing) or
// written without the lock (locking), which at worst interleaves it with
// another process's line under Wine.
bool AppendToFile(const std::string& path, const void* data, std::size_t size, std::uint32_t waitMs,
                  std::string* whyNot) {
    const DWORD start = GetTickCount();
    const auto mayRetry = [start, waitMs] {
        if (GetTickCount() - start >= waitMs) return false;
        Sleep(kAppendRetryMs);
        return true;
    };
    HANDLE file = INVALID_HANDLE_VALUE;
    while ((file = OpenForAppend(path)) == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || !mayRetry()) {
            if (whyNot) *whyNot = "cannot open " + path + ": " + SystemErrorText(error);
            return false;
        }
    }

    OVERLAPPED lock = AppendLockRange();
    bool locked = false;
    while (!(locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lock)) &&
           mayRetry()) {
    }
    auto bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
            if (whyNot) *whyNot = "cannot write to " + path + ": " + SystemErrorText(GetLastError());
            break;
        }
        bytes += written;
        size -= written;
    }
    if (locked) UnlockFileEx(file, 0, 1, 0, &lock);
    CloseHandle(file);
    return size == 0;
}

}  // namespace zentrok::platform
