#include "decode/entry_parser.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

namespace zentrok {
namespace {

// The kind characters: an entry that starts with one of these sets
// GroupKind. Only kinds E and N carry entries for the host.
constexpr std::string_view kEntryKinds = "0ENO@#AIXL&";
// The entry codes: the seven of two letters, and the five that a lone last
// character of the telegram is taken for (the first letters of da, ti, ri,
// Pi and ph; "i" and "a" stay text).
constexpr std::string_view kEntryCodes[] = {"da", "ti", "ri", "id", "Pi", "ai", "ph", "d", "t", "r", "P", "p"};
constexpr std::string_view kDeliveredCode = "ri";
constexpr char kSeparator = '/';
constexpr std::size_t kTextWidth = 7;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsCode(std::string_view candidate) {
    return std::find(std::begin(kEntryCodes), std::end(kEntryCodes), candidate) != std::end(kEntryCodes);
}

// Drops the entry up to and including its "/", or the rest of the telegram.
void SkipEntry(ShortString<255>& telegram) {
    const std::size_t slash = telegram.Find(kSeparator);
    telegram.DeleteFront(slash != 0 ? slash : telegram.Length);
}

// Takes the entry's code and digit run; the digits go right-aligned into
// EntryCode (at most two; the last character of the telegram never counts).
void TakeCode(DecoderState& state, DecodeContext& context) {
    ShortString<255>& telegram = context.Telegram;
    const std::string_view candidate = telegram.View().substr(0, 2);
    if (!IsCode(candidate)) return;
    state.GroupCode.Assign(candidate);
    telegram.DeleteFront(candidate.size());

    const std::size_t length = telegram.Length;
    std::size_t i = 1;
    while (i < length && IsDigit(telegram.At(i))) ++i;
    const std::size_t digits = std::min<std::size_t>(i - 1, 2);
    if (digits == 2) {
        context.EntryCode.Chars[0] = telegram.At(1);
        context.EntryCode.Chars[1] = telegram.At(2);
    } else if (digits == 1) {
        context.EntryCode.Chars[1] = telegram.At(1);
    }
    if (i <= length && telegram.At(i) == kSeparator) ++i;
    telegram.DeleteFront(i - 1);
}

// Takes the entry's text up to its "/" (or the end), right-aligned in seven.
void TakeText(ShortString<255>& telegram, ShortString<kTextWidth>& text) {
    text.Fill(' ', kTextWidth);
    const std::size_t slash = telegram.Find(kSeparator);
    const std::size_t available = slash != 0 ? slash - 1 : telegram.Length;
    const std::size_t count = std::min(available, kTextWidth);
    std::memcpy(text.Chars + kTextWidth - count, telegram.Chars, count);
    telegram.DeleteFront(slash != 0 ? slash : telegram.Length);
}

// The first entry that yields output becomes the telegram's message; the
// ones after it are queued.
void PlaceOrQueue(DecoderState& state, DecodeContext& context, const ShortString<kTextWidth>& text) {
    QenMsg& msg = state.Msg;
    if (!state.GroupPlaced) {
        state.GroupPlaced = true;
        state.GroupChannel = msg.Channel;
        state.GroupIdent = msg.Ident;
        msg.Code.Length = 2;
        std::memcpy(msg.Code.Chars, context.EntryCode.Chars, 2);
        msg.Text.Length = kTextWidth;
        std::memcpy(msg.Text.Chars, text.Chars, kTextWidth);
        context.Produced = true;
        return;
    }
    PendingEntry entry;
    std::memcpy(entry.data(), context.EntryCode.Chars, 2);
    std::memcpy(entry.data() + 2, text.Chars, kTextWidth);
    state.Pending.Push(entry);
}

}  // namespace

void ParseEntry(DecoderState& state, DecodeContext& context) {
    ShortString<255>& telegram = context.Telegram;
    ShortString<kTextWidth> text;  // stays empty unless the entry yields output

    const char first = telegram.At(1);
    if (!telegram.Empty() && kEntryKinds.find(first) != std::string_view::npos) {
        state.GroupKind = first;
        state.GroupCode.Length = 0;
        telegram.DeleteFront(1);
    }

    if (state.GroupKind == 'E' || state.GroupKind == 'N') {
        TakeCode(state, context);
        if (state.GroupCode.View() == kDeliveredCode)
            TakeText(telegram, text);
        else
            SkipEntry(telegram);
    } else {
        SkipEntry(telegram);
    }
    if (!text.Empty()) PlaceOrQueue(state, context, text);
}

}  // namespace zentrok
