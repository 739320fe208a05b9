#include "figures.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace zentrok::test {
namespace {

// Tests change into temporary directories; this is where the program began.
const std::filesystem::path kStartDir = std::filesystem::current_path();

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

JsonObject& JsonObject::Add(std::string_view key, std::int64_t value) {
    fields_.emplace_back(key, std::to_string(value));
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    fields_.emplace_back(key, text);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
    fields_.emplace_back(key, value ? "true" : "false");
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
    fields_.emplace_back(key, Quoted(text));
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const std::vector<JsonObject>& list) {
    std::string text = "[";
    for (std::size_t i = 0; i < list.size(); ++i) text += (i ? ",\n    " : "\n    ") + list[i].Text();
    fields_.emplace_back(key, text + (list.empty() ? "]" : "\n  ]"));
    return *this;
}

std::string JsonObject::Text() const {
    std::string text = "{";
    for (std::size_t i = 0; i < fields_.size(); ++i)
        text += (i ? ", " : "") + Quoted(fields_[i].first) + ": " + fields_[i].second;
    return text + "}";
}

std::filesystem::path ReportDir() {
    if (const char* dir = std::getenv("ZENTROK_REPORT_DIR"); dir && *dir) return dir;
    return kStartDir;
}

bool WriteFigures(std::string_view name, const JsonObject& figures) {
    std::error_code ignored;
    std::filesystem::create_directories(ReportDir(), ignored);
    std::ofstream file(ReportDir() / (std::string(name) + ".json"), std::ios::trunc);
    file << figures.Text() << '\n';
    return static_cast<bool>(file);
}

std::string_view SanitizerName() {
#if defined(__SANITIZE_THREAD__)
    return "thread";
#elif defined(__SANITIZE_ADDRESS__)
    return "address";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    return "thread";
#elif __has_feature(address_sanitizer)
    return "address";
#else
    return "none";
#endif
#else
    return "none";
#endif
}

std::string OptionValue(int argc, char** argv, std::string_view option) {
    const std::string prefix = "--" + std::string(option) + "=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.substr(0, prefix.size()) == prefix) return std::string(argument.substr(prefix.size()));
    }
    return "";
}

}  // namespace zentrok::test
