// Feeds arbitrary telegram logs to the monitor's replay path: each line is
// split into its time text and telegram, and each telegram is decoded and
// delivered as the replay does. Checks that a split line is the time text,
// one blank and the telegram, that a refused line says why, that telegrams
// continued over lines fit one read, and that every delivered item is well
// formed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "link/hand_over.h"
#include "monitor/log_line.h"
#include "monitor/log_records.h"

namespace {

using namespace zentrok;
using namespace zentrok::fuzz;

bool HasDigit(std::string_view text) { return text.find_first_of("0123456789") != std::string_view::npos; }

void CheckItem(const QenMsg& item) {
    Check(item.Code.Length <= 2 && item.Text.Length <= 7, "strings within their capacity");
    for (int i = 0; i < item.Text.Length; ++i)
        Check(item.Text.Chars[i] < 'a' || item.Text.Chars[i] > 'z', "the host's text is upper case");
}

// The replay of one telegram; the state carries over from one to the next.
void Replay(const monitor::LogRecord& record, DecoderState& state, DecodeContext& context, HandOff& handOff) {
    Check(!record.Telegram.empty() && record.Telegram.size() <= kMaxTelegramLength, "a telegram fits one read");
    Check(record.FirstLine >= 1 && record.LastLine >= record.FirstLine, "a telegram has its lines");
    context.Telegram.Assign(record.Telegram);
    std::size_t items = 0;
    const Handed handed = ReplayTelegram(
        state, context, handOff, [] {}, QenMsg{},
        [&items](const QenMsg& item) {
            CheckItem(item);
            ++items;
        });
    if (handed == Handed::Nothing) return;
    Check(items >= 1 && items <= 1 + record.Telegram.size(), "a message, then at most one entry per character");
}

// One line as the log reader sees it on its own.
void CheckSplit(std::string_view line) {
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
    const std::string log(reinterpret_cast<const char*>(data), size);
    for (std::string_view rest = log; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        CheckSplit(line);
    }

    std::istringstream in(log);
    monitor::ReadLogRecords(
        in, kMaxTelegramLength, [&](const monitor::LogRecord& record) { Replay(record, state, context, handOff); },
        [](int, const std::string& problem) { Check(!problem.empty(), "a bad line says why"); });
    return 0;
}
