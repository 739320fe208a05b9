#include "common/options.h"

namespace zentrok::tools {

long long ReadInteger(const std::string& option, const std::string& text, long long low, long long high) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < low || value > high)
        throw ValueError(option + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                         ", not \"" + text + "\"");
    return value;
}

double ReadSeconds(const std::string& option, const std::string& text, double high, bool zeroAllowed) {
    std::size_t used = 0;
    double value = -1;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    const bool inRange = (zeroAllowed ? value >= 0 : value > 0) && value <= high;
    if (used == 0 || used != text.size() || !inRange)
        throw ValueError(option + " needs a " + (zeroAllowed ? "" : "positive ") + "number of seconds, not \"" + text +
                         "\"");
    return value;
}

std::string UsageErrorText(const std::string& tool, const UsageError& error, const char* usage) {
    const std::string message = tool + ": " + error.what() + "\n";
    if (dynamic_cast<const ValueError*>(&error)) return message + tool + " --help lists the options\n";
    return message + "\n" + usage;
}

}  // namespace zentrok::tools

namespace zentrok::tools {

const char* ProjectVersion() { return ZENTROK_VERSION; }

}  // namespace zentrok::tools
