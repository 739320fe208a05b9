// The replay runs a log's telegrams through the driver's own decoder and
// hand-off, so that its rows are those a host would have received.
#include <cstdio>
#include <fstream>
#include <string>

#include "decode/telegram_decoder.h"
#include "host/hand_off.h"
#include "monitor/item_format.h"
#include "monitor/item_printer.h"
#include "monitor/log_line.h"
#include "monitor/sessions.h"
#include "platform/platform.h"

namespace zentrok::monitor {
namespace {

class Replayer {
public:
    explicit Replayer(bool json) : printer_(json) {
        decoder_.ClearChannelMemory();
        context_.Clock = platform::UtcNow;  // time stamps take the current year
    }

    void Telegram(std::string_view telegram) {
        context_.Telegram.Assign(telegram);
        if (!DecodeTelegram(decoder_, context_, [] {})) return;
        handOff_.Announce(decoder_);
        QenMsg msg;
        for (FillSentinel(msg); handOff_.Deliver(msg); FillSentinel(msg)) printer_.Print(msg);
        handOff_.Withdraw();
    }

private:
    DecoderState decoder_;
    DecodeContext context_;
    HandOff handOff_;
    ItemPrinter printer_;
};

void ReportBadLine(const std::string& path, int number, const std::string& problem) {
    std::fprintf(stderr, "zentrok-monitor: %s:%d: %s\n", path.c_str(), number, problem.c_str());
}

}  // namespace

int RunReplay(const std::string& path, bool json) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "zentrok-monitor: cannot read %s\n", path.c_str());
        return 1;
    }
    Replayer replayer(json);
    int number = 0;
    bool allRead = true;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        LogLine parts;
        std::string problem;
        if (!SplitLogLine(line, parts, problem)) {
            ReportBadLine(path, number, problem);
            allRead = false;
        } else if (parts.Telegram.size() > kMaxTelegramLength) {
            // Only a line cut by the log's length limit, which then runs on
            // into the next, can be this long.
            ReportBadLine(path, number, "telegram longer than " + std::to_string(kMaxTelegramLength) + " characters");
            allRead = false;
        } else {
            replayer.Telegram(parts.Telegram);
        }
    }
    return allRead ? 0 : 1;
}

}  // namespace zentrok::monitor
