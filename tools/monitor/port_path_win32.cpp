// Ports on Windows: the system's list of serial ports (the registry's
// SERIALCOMM map) and, under Wine, the COM links of the prefix's dosdevices
// folder, which Wine opens without listing them in the registry.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

#include "monitor/port_path.h"
#include "platform/platform.h"

namespace zentrok::monitor {
namespace {

constexpr int kHighestPort = 255;

int NumberOf(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || _strnicmp(name.c_str(), "COM", 3) != 0) return 0;
    for (std::size_t i = 3; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return 0;
    const int number = std::atoi(name.c_str() + 3);
    return number <= kHighestPort ? number : 0;
}

// COM number -> the device the system names for it.
void AddRegistryPorts(std::map<int, std::string>& ports) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        char device[256], name[64];
        DWORD deviceSize = sizeof device, nameSize = sizeof name, type = 0;
        const LONG result =
            RegEnumValueA(key, index, device, &deviceSize, nullptr, &type, reinterpret_cast<BYTE*>(name), &nameSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        if (const int number = NumberOf(std::string(name, strnlen(name, nameSize)))) ports[number] = device;
    }
    RegCloseKey(key);
}

bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// The prefix's dosdevices folder as a Windows path: Wine maps the Linux root
// to drive Z: unless the prefix was set up otherwise.
std::string DosDevicesFolder() {
    std::string prefix = platform::EnvironmentValue("WINEPREFIX");
    if (prefix.empty()) {
        const std::string home = platform::EnvironmentValue("HOME");
        if (home.empty()) return "";
        prefix = home + "/.wine";
    }
    std::string folder = "Z:" + prefix + "/dosdevices";
    std::replace(folder.begin(), folder.end(), '/', '\\');
    return folder;
}

void AddWineLinks(std::map<int, std::string>& ports) {
    const std::string folder = DosDevicesFolder();
    if (folder.empty()) return;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\com*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const int number = NumberOf(found.cFileName);
        if (number && !ports.count(number)) ports[number] = "Wine link " + folder + "\\" + found.cFileName;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

std::vector<PortEntry> ListPorts() {
    std::map<int, std::string> known;
    AddRegistryPorts(known);
    if (UnderWine()) AddWineLinks(known);
    std::vector<PortEntry> ports;
    for (const auto& [number, behind] : known) {
        PortEntry entry{number, platform::SerialPort::DeviceName(number), behind, "free"};
        platform::OpenError why;
        if (!platform::SerialPort::Open(number, &why)) {
            if (why.Reason == platform::OpenFailure::InUse)
                entry.State = "in use";
            else if (why.Reason == platform::OpenFailure::AccessDenied)
                entry.State = "in use or access denied";
            else
                continue;
        }
        ports.push_back(entry);
    }
    return ports;
}

std::string UnnumberedHint() { return ""; }

// Windows gives a program no way to see that the device of a port it holds
// open has gone without asking the port itself, which the driver holds.
// (QueryDosDevice is no such way: Wine answers "not found" for a port that
// opens.) So the device counts as present for as long as the port is open.
// A folder's read-only attribute does not keep files in it from being
// written, so only a missing folder or another kind of file is told.
std::string FolderProblem(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "it does not exist";
        return "it cannot be looked at (error " + std::to_string(error) + ")";
    }
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? "" : "it is not a folder";
}

}  // namespace zentrok::monitor
