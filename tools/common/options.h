// Command-line values shared by the tools: a bad one is a usage error.
#pragma once

#include <stdexcept>
#include <string>

namespace zentrok::tools {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A whole number from `low` to `high`, written in full.
long long ReadInteger(const std::string& option, const std::string& text, long long low, long long high);

// A number of seconds up to `high`; zero only where `zeroAllowed`.
double ReadSeconds(const std::string& option, const std::string& text, double high, bool zeroAllowed);

}  // namespace zentrok::tools

namespace zentrok::tools {

// The project's version, as CMake's project() gives it: "1.0.0".
const char* ProjectVersion();

}  // namespace zentrok::tools
