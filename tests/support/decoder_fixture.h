// Shared pieces of the decoder tests: a telegram builder, a settable UTC
// clock and a fixture that decodes telegrams on one port's state.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/telegram_decoder.h"

namespace zentrok::test {

// A line of `length` blanks with each text laid over it from its 1-based
// position on, as the telegram layouts are written.
inline std::string Line(std::size_t length, std::initializer_list<std::pair<std::size_t, std::string_view>> fields) {
    std::string line(length, ' ');
    for (const auto& [pos, text] : fields) line.replace(pos - 1, text.size(), text);
    return line;
}

// A type "S" telegram with header number 01, channel 0 and Ident 1 around `entries`.
inline std::string MultiEntry(std::string_view entries) { return "S010#1/" + std::string(entries) + "]"; }

// 2024-06-14 09:30:00.456 UTC, a Friday; tests change it as they need.
inline constexpr QenSystemTime kDefaultNow{2024, 6, 5, 14, 9, 30, 0, 456};

class DecoderTest : public ::testing::Test {
protected:
    static inline QenSystemTime now = kDefaultNow;
    static QenSystemTime Now() { return now; }

    DecoderTest() {
        now = kDefaultNow;
        context.Clock = &DecoderTest::Now;
    }

    // Decodes `telegram` on this port's state, as the reader thread does.
    bool Decode(std::string_view telegram) { return Decode(state, telegram); }

    // Decodes `telegram` on the state of another port.
    bool Decode(DecoderState& port, std::string_view telegram) {
        context.Telegram.Assign(telegram);
        return DecodeTelegram(port, context, [this] { ++acks; });
    }

    std::string Code() const { return {state.Msg.Code.Chars, state.Msg.Code.Length}; }
    std::string Text() const { return {state.Msg.Text.Chars, state.Msg.Text.Length}; }

    // The queued entries, oldest first, as 9-character strings.
    std::vector<std::string> Pending() const {
        PendingQueue queue = state.Pending;
        std::vector<std::string> entries;
        for (; !queue.Empty(); queue.PopFront()) entries.emplace_back(queue.Front().data(), queue.Front().size());
        return entries;
    }

    DecoderState state;
    DecodeContext context;
    int acks = 0;  // ACKs the decoder sent itself
};

}  // namespace zentrok::test
