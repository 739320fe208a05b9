// Appends telegrams to the telegram log of the current directory, as a
// reader thread does: log_appender <tag> <count> logs "<tag>-<n>" for each n.
// log_appender --lock <ms> instead holds a lock on the whole of the only log
// file for that long, as a backup or a viewer may.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "link/telegram_log.h"

namespace {

int HoldLocked(DWORD milliseconds) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA("Qenlog\\*.zqa", &found);
    if (search == INVALID_HANDLE_VALUE) return 1;
    FindClose(search);
    const std::string path = std::string("Qenlog\\") + found.cFileName;
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED whole{};
    if (file == INVALID_HANDLE_VALUE || !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        return 1;
    Sleep(milliseconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string tag = argv[1];
    if (tag == "--lock") return HoldLocked(static_cast<DWORD>(std::atoi(argv[2])));
    for (int n = 0, count = std::atoi(argv[2]); n < count; ++n)
        zentrok::AppendTelegramLog(tag + "-" + std::to_string(n));
    return 0;
}
