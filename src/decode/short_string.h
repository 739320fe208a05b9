// Length-prefixed string of fixed capacity: one length byte, then N bytes.
// Positions are 1-based, as the telegram layouts are written; a position
// past the length reads as NUL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zentrok {

template <std::size_t N>
struct ShortString {
    static_assert(N >= 1 && N <= 255, "capacity fits the length byte");

    std::uint8_t Length = 0;
    char Chars[N] = {};

    std::string_view View() const { return {Chars, Length}; }
    bool Empty() const { return Length == 0; }

    char At(std::size_t pos) const { return pos >= 1 && pos <= Length ? Chars[pos - 1] : '\0'; }

    // Replaces the content; text beyond the capacity is dropped.
    void Assign(std::string_view text) {
        Length = static_cast<std::uint8_t>(text.size() < N ? text.size() : N);
        std::memcpy(Chars, text.data(), Length);
    }

    // Content of `count` copies of `c`.
    void Fill(char c, std::size_t count) {
        Length = static_cast<std::uint8_t>(count < N ? count : N);
        std::memset(Chars, c, Length);
    }

    // Shortens to at most `count` characters.
    void Truncate(std::size_t count) {
        if (count < Length) Length = static_cast<std::uint8_t>(count);
    }

    // Deletes the first `count` characters (all of them if fewer remain).
    void DeleteFront(std::size_t count) {
        if (count >= Length) {
            Length = 0;
            return;
        }
        std::memmove(Chars, Chars + count, Length - count);
        Length = static_cast<std::uint8_t>(Length - count);
    }

    // 1-based position of the first `c`, or 0.
    std::size_t Find(char c) const {
        const void* hit = std::memchr(Chars, c, Length);
        return hit ? static_cast<const char*>(hit) - Chars + 1 : 0;
    }
};

}  // namespace zentrok
