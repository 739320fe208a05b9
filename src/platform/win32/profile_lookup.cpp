// Why the Windows private-profile reader gave "": it does so alike for a
// missing file, section or key. The value itself is ReadProfileString's.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

constexpr DWORD kSectionNamesSize = 32768;
// Given as the default to see whether a key is there; no value holds it.
constexpr char kMissingKey[] = "\x01\x02missing";

bool HasSection(const std::string& path, std::string_view section) {
    std::string names(kSectionNamesSize, '\0');
    const DWORD size = GetPrivateProfileSectionNamesA(names.data(), kSectionNamesSize, path.c_str());
    const std::string wanted(section);
    for (const char* name = names.data(); name < names.data() + size && *name; name += std::strlen(name) + 1)
        if (lstrcmpiA(name, wanted.c_str()) == 0) return true;
    return false;
}

bool HasKey(const std::string& path, std::string_view section, std::string_view key) {
    char value[sizeof kMissingKey];
    GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(), kMissingKey, value, sizeof value,
                             path.c_str());
    return std::strcmp(value, kMissingKey) != 0;
}

}  // namespace

ProfileLookup LookUpProfileString(const std::string& path, std::string_view section, std::string_view key) {
    ProfileLookup lookup;
    lookup.Value = ReadProfileString(path, section, key);
    if (!lookup.Value.empty()) return lookup;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        lookup.Found = ProfileFound::NoFile;
    else if (!HasSection(path, section))
        lookup.Found = ProfileFound::NoSection;
    else if (!HasKey(path, section, key))
        lookup.Found = ProfileFound::NoKey;
    return lookup;
}

}  // namespace zentrok::platform
