// Feeds arbitrary telegrams to the decoder and checks what must hold for any
// input: bounded fields, a bounded queue, the acknowledgement of type "0",
// and a result that does not depend on bytes past the telegram's end.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode/telegram_decoder.h"
#include "fuzz_check.h"

namespace {

using namespace zentrok;
using namespace zentrok::fuzz;

struct Outcome {
    bool Produced;
    int Acks;
    QenMsg Msg;
    std::vector<PendingEntry> Pending;
};

// Decodes `data` with the bytes past its end set to `filler`.
Outcome Decode(DecoderState& state, DecodeContext& context, const std::uint8_t* data, std::size_t size, char filler) {
    std::memset(context.Telegram.Chars, filler, sizeof context.Telegram.Chars);
    std::memcpy(context.Telegram.Chars, data, size);
    context.Telegram.Length = static_cast<std::uint8_t>(size);
    Outcome outcome{};
    outcome.Produced = DecodeTelegram(state, context, [&outcome] { ++outcome.Acks; });
    outcome.Msg = state.Msg;
    for (PendingQueue queue = state.Pending; !queue.Empty(); queue.PopFront()) outcome.Pending.push_back(queue.Front());
    return outcome;
}

void CheckOutcome(const Outcome& outcome, const std::uint8_t* data, std::size_t size) {
    const char type = static_cast<char>(data[0]);
    const QenMsg& msg = outcome.Msg;

    Check(outcome.Acks == (type == '0' ? 1 : 0), "exactly type \"0\" sends its own ACK, once");
    if (type == '0') Check(!outcome.Produced, "type \"0\" produces nothing");
    if (type == '1' || type == '3' || type == '5')
        Check(!outcome.Produced || size == 20 || size == 34, "fixed telegrams produce only at length 20 or 34");
    if (type == 'S') {
        const void* bracket = std::memchr(data, ']', size);
        const bool closed = bracket && static_cast<const std::uint8_t*>(bracket) - data >= 5;
        Check(outcome.Produced == closed, "type \"S\" produces exactly with a \"]\" at position 6 or later");
    }
    if (type != '0' && type != '1' && type != '3' && type != '5' && type != 'S')
        Check(outcome.Produced, "any other type produces an empty message");

    Check(outcome.Pending.size() <= size, "every queued entry consumed telegram characters");
    Check(outcome.Pending.size() < PendingQueue::kCapacity, "the queue never fills up, so it dropped nothing");
    Check(outcome.Pending.empty() || (type == 'S' && outcome.Produced), "only a produced type \"S\" queues");
    for (const PendingEntry& entry : outcome.Pending)
        for (int i = 0; i < 2; ++i)
            Check(entry[i] == ' ' || (entry[i] >= '0' && entry[i] <= '9'), "entry number is digits or blanks");

    if (!outcome.Produced) return;
    Check(msg.Channel <= 15, "channel is one hexadecimal digit");
    Check(msg.Code.Length == 0 || msg.Code.Length == 2, "code has length 0 or 2");
    Check(msg.Text.Length == 0 || msg.Text.Length == 7, "text has length 0 or 7");
    const QenSystemTime& stamp = msg.Stamp;
    if (stamp.wYear != kNoStamp) {
        Check(size == 34 && (type == '1' || type == '3' || type == '5'), "only stamped fixed telegrams carry a time");
        Check(stamp.wYear == kNow.wYear && stamp.wDayOfWeek == kNow.wDayOfWeek &&
                  stamp.wMilliseconds == kNow.wMilliseconds,
              "year, day of week and milliseconds come from the clock");
        Check(stamp.wMonth >= 1 && stamp.wMonth <= 12 && stamp.wDay >= 1 && stamp.wDay <= 31 && stamp.wHour < 24 &&
                  stamp.wMinute < 60 && stamp.wSecond < 60,
              "a time stamp is a valid time and date");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kMaxTelegramLength) return 0;

    static DecoderState state;
    static DecodeContext context;
    state = DecoderState{};
    context = DecodeContext{};
    context.Clock = FixedClock;

    // Twice on the same port state: the first decode's channel memory stays,
    // and the second finds digits past the end instead of NUL bytes.
    const Outcome first = Decode(state, context, data, size, '\0');
    CheckOutcome(first, data, size);
    const Outcome second = Decode(state, context, data, size, '1');
    CheckOutcome(second, data, size);

    // From a fresh port a telegram's own memory changes never alter its own
    // message, so both decodes agree.
    Check(first.Produced == second.Produced, "same telegram, same result");
    if (first.Produced) {
        Check(std::memcmp(&first.Msg, &second.Msg, sizeof first.Msg) == 0, "same telegram, same message");
        Check(first.Pending == second.Pending, "same telegram, same entries");
    }
    return 0;
}
