#include "decode/conversions.h"

#include <cstddef>

namespace zentrok {
namespace {

constexpr std::uint64_t kHexLimit = 0xFFFFFFFFu;

int DigitOf(char c, int base) {
    if (base == 16) return HexDigit(c);
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

struct Digits {
    std::uint64_t Value = 0;  // of the digits before the value would pass the limit
    std::size_t Count = 0;    // digits at the start of the text, all of them
    bool Overflow = false;
};

Digits ReadDigits(std::string_view text, int base, std::uint64_t limit) {
    Digits digits;
    for (char c : text) {
        const int digit = DigitOf(c, base);
        if (digit < 0) break;
        ++digits.Count;
        const std::uint64_t next = digits.Value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (digits.Overflow || next > limit)
            digits.Overflow = true;
        else
            digits.Value = next;
    }
    return digits;
}

// 1 for "$", "x" or "X", 2 for "0x" or "0X", else 0.
std::size_t HexPrefixLength(std::string_view text) {
    const auto isX = [](char c) { return c == 'x' || c == 'X'; };
    if (!text.empty() && (text[0] == '$' || isX(text[0]))) return 1;
    if (text.size() >= 2 && text[0] == '0' && isX(text[1])) return 2;
    return 0;
}

NumberValue FromDigits(const Digits& digits, std::size_t length, bool negative, NumberRule rule) {
    const bool toTheEnd = digits.Count == length;
    if (rule == NumberRule::Whole) {
        if (!toTheEnd || length == 0) return {0, NumberStatus::NotANumber};
        if (digits.Overflow) return {0, NumberStatus::OutOfRange};
    }
    const auto value = static_cast<std::int64_t>(digits.Value);
    const bool withSign = negative && toTheEnd && !digits.Overflow;
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(withSign ? -value : value)), NumberStatus::Number};
}

}  // namespace

NumberValue ReadNumber(std::string_view text, NumberRule rule) {
    while (!text.empty() && text[0] == ' ') text.remove_prefix(1);
    if (const std::size_t prefix = HexPrefixLength(text); prefix > 0) {
        text.remove_prefix(prefix);
        return FromDigits(ReadDigits(text, 16, kHexLimit), text.size(), false, rule);
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    // A whole negative number reaches one further, to INT32_MIN.
    const std::uint64_t limit = std::uint64_t{INT32_MAX} + (rule == NumberRule::Whole && negative ? 1 : 0);
    return FromDigits(ReadDigits(text, 10, limit), text.size(), negative, rule);
}

std::int32_t HexValue(std::string_view field) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ReadDigits(field, 16, kHexLimit).Value));
}

}  // namespace zentrok
