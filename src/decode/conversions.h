// Numbers written as text: the fields of the telegram layouts and the values
// of "Rn.ini" are read by one reader, with the strictness each needs.
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

// How much of a text its number must fill.
enum class NumberRule {
    // A telegram field: the digits at its start count, up to the first other
    // character, and a value too large keeps the digits read before it. A
    // field is a fixed slice of the telegram, so whatever follows the
    // device's digits is padding or the next field; decoding never fails.
    Leading,
    // An "Rn.ini" value: the whole text is the number, or there is none, and
    // a value outside 32 bits is out of range. A key whose value is no
    // number takes its default, so a typo must not pass as a number.
    Whole,
};

enum class NumberStatus { Number, NotANumber, OutOfRange };

struct NumberValue {
    std::int32_t Value = 0;
    NumberStatus Status = NumberStatus::Number;  // always Number under NumberRule::Leading
};

// Signed decimal after leading blanks and one optional sign, or hexadecimal
// (all 32 bits, no sign) after "$", "x", "X", "0x" or "0X". Under
// NumberRule::Leading the sign counts only when the digits run to the end.
NumberValue ReadNumber(std::string_view text, NumberRule rule);

// A telegram field's number: ReadNumber under NumberRule::Leading.
inline std::int32_t DecValue(std::string_view field) { return ReadNumber(field, NumberRule::Leading).Value; }

// Hexadecimal digits up to the first other character, at most eight
// significant digits, as a 32-bit pattern.
std::int32_t HexValue(std::string_view field);

}  // namespace zentrok
