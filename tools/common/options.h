// Command-line values shared by the tools: a bad one is a usage error.
#pragma once

#include <stdexcept>
#include <string>

namespace zentrok::tools {

// Options that do not fit together, or one that is missing or unknown: the
// tool prints the message and its usage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A value an option does not take. The message says what the option takes,
// so the tool prints it with a pointer to --help instead of the whole usage.
struct ValueError : UsageError {
    using UsageError::UsageError;
};

// What `tool` prints on stderr for a usage error: "<tool>: <message>", then
// its usage, or for a ValueError the line "<tool> --help lists the options".
std::string UsageErrorText(const std::string& tool, const UsageError& error, const char* usage);

// A whole number from `low` to `high`, written in full.
long long ReadInteger(const std::string& option, const std::string& text, long long low, long long high);

// A number of seconds up to `high`; zero only where `zeroAllowed`.
double ReadSeconds(const std::string& option, const std::string& text, double high, bool zeroAllowed);

}  // namespace zentrok::tools

namespace zentrok::tools {

// The project's version, as CMake's project() gives it: "1.0.0".
const char* ProjectVersion();

}  // namespace zentrok::tools
