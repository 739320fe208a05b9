// The replay runs a log's telegrams through the driver's own decoder and
// hand-off, so that its rows are those a host would have received. Each
// row carries the time its telegram was logged, and the stamps take the
// year of the log file's name, as they took the year of reception.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "link/hand_over.h"
#include "monitor/item_format.h"
#include "monitor/item_printer.h"
#include "monitor/log_line.h"
#include "monitor/log_records.h"
#include "monitor/sessions.h"
#include "platform/platform.h"

namespace zentrok::monitor {
namespace {

namespace fs = std::filesystem;

constexpr char kLogExtension[] = ".zqa";

// The decoder's clock is a plain function: the year it gives is the year
// of the log file being replayed.
std::uint16_t logYear = 0;

QenSystemTime LogYearClock() {
    QenSystemTime now = platform::UtcNow();
    if (logYear) now.wYear = logYear;
    return now;
}

// The year of a log file named "YYYYMM_P.zqa", or 0.
std::uint16_t YearOfName(const std::string& name) {
    if (name.size() != 12 || name[6] != '_' || name[7] < '1' || name[7] > '4' || name.substr(8) != kLogExtension)
        return 0;
    for (int i = 0; i < 6; ++i)
        if (name[i] < '0' || name[i] > '9') return 0;
    const int month = std::stoi(name.substr(4, 2));
    return month >= 1 && month <= 12 ? static_cast<std::uint16_t>(std::stoi(name.substr(0, 4))) : 0;
}

class Replayer {
public:
    explicit Replayer(bool json) : printer_(json, true) {
        decoder_.ClearChannelMemory();
        context_.Clock = LogYearClock;
    }

    void Telegram(std::string_view telegram, const std::string& received) {
        context_.Telegram.Assign(telegram);
        QenMsg blank;
        FillSentinel(blank);
        ReplayTelegram(
            decoder_, context_, handOff_, [] {}, blank, [&](const QenMsg& msg) { printer_.Print(msg, received); });
    }

private:
    DecoderState decoder_;
    DecodeContext context_;
    HandOff handOff_;
    ItemPrinter printer_;
};

void Report(const std::string& path, const std::string& text) {
    std::fprintf(stderr, "zentrok-monitor: %s: %s\n", path.c_str(), text.c_str());
}

bool IsLogName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) { return std::tolower(c); });
    return extension == kLogExtension;
}

// The files to replay for one argument: a folder's log files in name
// order, or the file itself. Says so when a folder holds none.
bool Expand(const std::string& path, std::vector<std::string>& files) {
    std::error_code error;
    if (!fs::is_directory(path, error)) {
        files.push_back(path);
        return true;
    }
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
        if (entry.is_regular_file(error) && IsLogName(entry.path())) found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    if (found.empty()) Report(path, "no log files (*.zqa) in this folder");
    files.insert(files.end(), found.begin(), found.end());
    return !found.empty();
}

// Replays one file; false when it could not be read or a line was bad.
bool ReplayFile(const std::string& path, Replayer& replayer, int& telegrams) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "zentrok-monitor: cannot read %s\n", path.c_str());
        return false;
    }
    logYear = YearOfName(fs::path(path).filename().string());
    if (!logYear) Report(path, "the name is no log name YYYYMM_P.zqa, so time stamps take the current year");
    bool allRead = true;
    const int before = telegrams;
    ReadLogRecords(
        file, kMaxTelegramLength,
        [&](const LogRecord& record) {
            if (record.LastLine > record.FirstLine)
                Report(path + ":" + std::to_string(record.FirstLine) + "-" + std::to_string(record.LastLine),
                       "one telegram with a line break (CR LF or LF) inside, logged as it came; decoded as one");
            ++telegrams;
            replayer.Telegram(record.Telegram, record.TimeText);
        },
        [&](int line, const std::string& problem) {
            Report(path + ":" + std::to_string(line), problem);
            allRead = false;
        });
    if (telegrams == before) Report(path, "no telegram in this file");
    return allRead && telegrams > before;
}

}  // namespace

int RunReplay(const std::vector<std::string>& paths, bool json) {
    std::vector<std::string> files;
    bool allRead = true;
    for (const std::string& path : paths) allRead = Expand(path, files) && allRead;
    Replayer replayer(json);
    int telegrams = 0;
    for (const std::string& file : files) allRead = ReplayFile(file, replayer, telegrams) && allRead;
    if (files.size() > 1 || telegrams == 0)
        std::fprintf(stderr, "zentrok-monitor: %d telegrams replayed from %zu files\n", telegrams, files.size());
    return allRead && telegrams > 0 ? 0 : 1;
}

}  // namespace zentrok::monitor
