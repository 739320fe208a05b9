// Feeds arbitrary telegram logs to the monitor's replay path: each line is
// split into its time text and telegram, and each telegram is decoded and
// delivered as the replay does. Checks that a split line is the time text,
// one blank and the telegram, that a refused line says why, and that every
// delivered item is well formed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "decode/telegram_decoder.h"
#include "host/hand_off.h"
#include "monitor/log_line.h"

namespace {

using namespace zentrok;

constexpr QenSystemTime kNow{2024, 2, 4, 29, 23, 59, 59, 999};
QenSystemTime FixedClock() { return kNow; }

void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "log replay invariant broken: %s\n", what);
    std::abort();
}

bool HasDigit(std::string_view text) { return text.find_first_of("0123456789") != std::string_view::npos; }

void CheckItem(const QenMsg& item) {
    Check(item.Code.Length <= 2 && item.Text.Length <= 7, "strings within their capacity");
    for (int i = 0; i < item.Text.Length; ++i)
        Check(item.Text.Chars[i] < 'a' || item.Text.Chars[i] > 'z', "the host's text is upper case");
}

// The replay of one line; the state carries over from line to line.
void Replay(std::string_view line, DecoderState& state, DecodeContext& context, HandOff& handOff) {
    monitor::LogLine parts;
    std::string problem;
    if (!monitor::SplitLogLine(line, parts, problem)) {
        Check(!problem.empty(), "a refused line says why");
        return;
    }
    Check(parts.TimeText.data() == line.data() && !parts.TimeText.empty() && HasDigit(parts.TimeText),
          "the line starts with a time text");
    Check(parts.TimeText.size() + 1 + parts.Telegram.size() == line.size() && line[parts.TimeText.size()] == ' ' &&
              parts.Telegram.data() == line.data() + parts.TimeText.size() + 1,
          "the line is the time text, one blank and the telegram");
    Check(!parts.Telegram.empty(), "a telegram is never empty");
    if (parts.Telegram.size() > kMaxTelegramLength) return;  // the replay reports these

    context.Telegram.Assign(parts.Telegram);
    if (!DecodeTelegram(state, context, [] {})) return;
    handOff.Announce(state);
    std::size_t items = 0;
    for (QenMsg item{}; handOff.Deliver(item); item = QenMsg{}) {
        CheckItem(item);
        ++items;
    }
    handOff.Withdraw();
    Check(items >= 1 && items <= 1 + parts.Telegram.size(), "a message, then at most one entry per character");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static DecoderState state;
    static DecodeContext context;
    static HandOff handOff;
    state = DecoderState{};
    state.ClearChannelMemory();
    context = DecodeContext{};
    context.Clock = FixedClock;

    // Lines as the replay reads them: up to "\n", without a closing "\r".
    std::string_view log(reinterpret_cast<const char*>(data), size);
    while (!log.empty()) {
        const std::size_t end = log.find('\n');
        std::string_view line = log.substr(0, end);
        log.remove_prefix(end == std::string_view::npos ? log.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Replay(line, state, context, handOff);
    }
    return 0;
}
