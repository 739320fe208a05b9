// The replay runs a log's telegrams through the driver's own decoder and
// hand-off, so that its rows are those a host would have received.
#include <cstdio>
#include <fstream>
#include <string>

#include "decode/telegram_decoder.h"
#include "host/hand_off.h"
#include "monitor/item_format.h"
#include "monitor/item_printer.h"
#include "monitor/log_records.h"
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

void Report(const std::string& path, const std::string& lines, const std::string& text) {
    std::fprintf(stderr, "zentrok-monitor: %s:%s: %s\n", path.c_str(), lines.c_str(), text.c_str());
}

}  // namespace

int RunReplay(const std::string& path, bool json) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "zentrok-monitor: cannot read %s\n", path.c_str());
        return 1;
    }
    Replayer replayer(json);
    bool allRead = true;
    ReadLogRecords(
        file, kMaxTelegramLength,
        [&](const LogRecord& record) {
            if (record.LastLine > record.FirstLine)
                Report(path, std::to_string(record.FirstLine) + "-" + std::to_string(record.LastLine),
                       "one telegram with a line break (CR LF or LF) inside, logged as it came; decoded as one");
            replayer.Telegram(record.Telegram);
        },
        [&](int line, const std::string& problem) {
            Report(path, std::to_string(line), problem);
            allRead = false;
        });
    return allRead ? 0 : 1;
}

}  // namespace zentrok::monitor
