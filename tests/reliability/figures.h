// Figures that the reliability programs report: one small JSON object per
// program, read by scripts/reliability-report.py.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zentrok::test {

class JsonObject {
public:
    JsonObject& Add(std::string_view key, std::int64_t value);
    JsonObject& Add(std::string_view key, double value);
    JsonObject& Add(std::string_view key, bool value);
    JsonObject& Add(std::string_view key, std::string_view text);
    JsonObject& Add(std::string_view key, const std::vector<JsonObject>& list);

    std::string Text() const;

private:
    std::vector<std::pair<std::string, std::string>> fields_;  // key, value as JSON
};

// $ZENTROK_REPORT_DIR, or the directory the program started in.
std::filesystem::path ReportDir();

// Writes `figures` to <ReportDir()>/<name>.json; false when it could not.
bool WriteFigures(std::string_view name, const JsonObject& figures);

// "thread", "address" or "none": the sanitizer this program was built with.
std::string_view SanitizerName();

// The value of "--<option>=" among the arguments, or "".
std::string OptionValue(int argc, char** argv, std::string_view option);

}  // namespace zentrok::test
