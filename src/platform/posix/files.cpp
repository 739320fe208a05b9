// Paths, the private-profile reader and appends to the telegram log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

// Values are read as Windows reads them: at most 2047 characters.
constexpr std::size_t kMaxProfileValue = 2047;
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Opens the log file for appending, creating it only when none exists. A
// file without any write permission is read-only, also for the superuser.
int OpenForAppend(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0) return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        close(fd);
        errno = 0;  // the file is there, but no writable regular file
        return -1;
    }
    return fd;
}

}  // namespace

std::string CurrentDirPath(std::initializer_list<std::string_view> parts) {
    std::string path = ".";
    for (std::string_view part : parts) {
        path += '/';
        path += part;
    }
    return path;
}

// Private-profile rules: "[section]" lines open sections, "key=value" lines
// hold values; names match case-insensitively, blanks around names and
// values are dropped, and the first matching section and key win. A UTF-8
// byte-order mark in front of the first line is skipped, as the Windows
// reader skips it, so that the same Rn.ini gives the same settings on both.
ProfileLookup LookUpProfileString(const std::string& path, std::string_view section, std::string_view key) {
    ProfileLookup lookup;
    std::ifstream file(path);
    if (!file) {
        lookup.Found = ProfileFound::NoFile;
        return lookup;
    }
    lookup.Found = ProfileFound::NoSection;
    bool inSection = false;
    bool firstLine = true;
    for (std::string raw; std::getline(file, raw); firstLine = false) {
        if (firstLine && raw.rfind(kUtf8ByteOrderMark, 0) == 0) raw.erase(0, sizeof kUtf8ByteOrderMark - 1);
        const std::string_view line = Trim(raw);
        if (!line.empty() && line.front() == '[') {
            if (inSection) return lookup;  // only the first matching section counts
            const std::size_t close = line.find(']');
            const std::string_view name = Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            inSection = lookup.Found == ProfileFound::NoSection && SameName(name, section);
            if (inSection) lookup.Found = ProfileFound::NoKey;
            continue;
        }
        if (!inSection || line.empty() || line.front() == ';') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || !SameName(Trim(line.substr(0, equals)), key)) continue;
        lookup.Value = std::string(Trim(line.substr(equals + 1)).substr(0, kMaxProfileValue));
        lookup.Found = ProfileFound::Value;
        return lookup;
    }
    return lookup;
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key) {
    return LookUpProfileString(path, section, key).Value;
}

// Appends with O_APPEND land whole at the end without a lock, so nothing is
// waited for here.
bool AppendToFile(const std::string& path, const void* data, std::size_t size, std::uint32_t /*waitMs*/,
                  std::string* whyNot) {
    errno = 0;
    const int fd = OpenForAppend(path);
    if (fd < 0) {
        if (whyNot) *whyNot = "cannot open " + path + ": " + (errno ? std::strerror(errno) : "not a writable file");
        return false;
    }
    const bool written = WriteAll(fd, static_cast<const char*>(data), size);
    const int error = errno;
    close(fd);
    if (!written && whyNot)
        *whyNot = "cannot write to " + path + ": " + (error ? std::strerror(error) : "nothing written");
    return written;
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace zentrok::platform
