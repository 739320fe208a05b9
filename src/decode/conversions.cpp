#include "decode/conversions.h"

#include <cstddef>

namespace zentrok {
namespace {

bool IsX(char c) { return c == 'x' || c == 'X'; }

}  // namespace

std::int32_t HexValue(std::string_view field) {
    std::uint32_t value = 0;
    for (char c : field) {
        const int digit = HexDigit(c);
        // A ninth significant digit would overflow 32 bits: stop before it.
        if (digit < 0 || value > 0x0FFFFFFFu) break;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t DecValue(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ') ++i;
    const std::string_view rest = field.substr(i);
    if (!rest.empty() && (rest[0] == '$' || IsX(rest[0]))) return HexValue(rest.substr(1));
    if (rest.size() >= 2 && rest[0] == '0' && IsX(rest[1])) return HexValue(rest.substr(2));

    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    std::int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        const std::int64_t next = value * 10 + (field[i] - '0');
        if (next > INT32_MAX) return static_cast<std::int32_t>(value);
        value = next;
    }
    // Reading stopped early: the digits count, their sign does not.
    if (i < field.size()) negative = false;
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace zentrok
