// Field conversions of the telegram layouts. They never fail: they yield
// the value of the leading digits, or 0 when there are none.
#pragma once

#include <cstdint>
#include <string_view>

namespace zentrok {

// The value of one hexadecimal digit (0-9, A-F, a-f), or -1.
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Signed decimal after leading blanks and one optional sign; "$", "x", "X",
// "0x" or "0X" first makes it hexadecimal. The sign counts only when the
// digits run to the end of the field.
std::int32_t DecValue(std::string_view field);

// Hexadecimal digits up to the first other character, at most eight
// significant digits, as a 32-bit pattern.
std::int32_t HexValue(std::string_view field);

}  // namespace zentrok
