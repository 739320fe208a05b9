#include "work_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace zentrok::test {
namespace {

std::filesystem::path MakeUniqueDirectory() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("zentrok-work-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) return candidate;
    }
    throw std::runtime_error("no unique working directory could be made");
}

}  // namespace

WorkDir::WorkDir(LogFolder logFolder) : previous_(std::filesystem::current_path()), path_(MakeUniqueDirectory()) {
    if (logFolder == LogFolder::Present) std::filesystem::create_directory(LogFolderPath());
    std::filesystem::current_path(path_);
}

WorkDir::~WorkDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void WorkDir::WriteIni(std::string_view content) const {
    std::ofstream file(path_ / "Rn.ini", std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace zentrok::test
