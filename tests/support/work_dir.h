// A fresh temporary working directory for one test: the driver reads its
// "Rn.ini" and writes its "Qenlog" folder relative to the current directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zentrok::test {

class WorkDir {
public:
    enum class LogFolder { Present, Missing };

    // Makes the directory (with or without "Qenlog") and changes into it.
    explicit WorkDir(LogFolder logFolder = LogFolder::Present);
    // Changes back to the previous directory and removes this one.
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path LogFolderPath() const { return path_ / "Qenlog"; }

    // Writes "Rn.ini" with exactly this content.
    void WriteIni(std::string_view content) const;

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace zentrok::test
