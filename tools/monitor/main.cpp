// zentrok-monitor: shows what a host receives from a port, one row per
// delivered item, or what the telegrams of a log file would have yielded.
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/options.h"
#include "monitor/sessions.h"

namespace {

using namespace zentrok::monitor;
using zentrok::tools::ReadInteger;
using zentrok::tools::ReadSeconds;
using zentrok::tools::UsageError;

constexpr const char* kUsage = R"(usage: zentrok-monitor --port N [--section N] [--count N] [--timeout S] [--json]
       zentrok-monitor --replay PATH... [--json]
       zentrok-monitor --list | --version

  --port N       open serial port N (COM<N>) through the driver and print each
                 item the host receives; a device that goes away (pulled,
                 closed) is waited for until it is back (exit status 1 when
                 it is still away at the end); the driver's counters are
                 printed at the end. Ctrl-C closes the port and ends
  --section N    line settings from section RecNr<N> of Rn.ini (default 1)
  --count N      end after N items (exit status 1 if the time-out comes first)
  --timeout S    end after S seconds
  --replay PATH... decode telegram logs (Qenlog/*.zqa) offline and print the
                 items their telegrams yield, each with the time its telegram
                 was logged; a folder stands for its log files in name order.
                 Time stamps take the year of the log file's name. Unreadable
                 lines are reported with their numbers; they, and a folder,
                 file or run without a telegram, give exit status 1
  --json         one JSON object per line instead of a table
  --list         the ports a host could open: COM number, device and
                 whether it is in use
  --version      the version of the tools and the driver they come with

Columns: item number, telegram number, channel, ident (hex), code, text, time
stamp ("-" when none) and whether the item is a queued entry of the message
before it (queued entries carry no telegram number or time stamp); a replay
adds the time each telegram was received, as the log wrote it.
)";

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnInterrupt(int) { stopRequested = 1; }

struct Options {
    LiveOptions Live;
    bool PortGiven = false;
    std::vector<std::string> ReplayPaths;
    bool List = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    bool liveOnly = false;  // an option that only a live session takes
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(option + " needs a value");
            return argv[++i];
        };
        if (option == "--port") {
            options.Live.Port = static_cast<int>(ReadInteger(option, value(), 1, 255));
            options.PortGiven = true;
        } else if (option == "--section") {
            options.Live.Section = static_cast<int>(ReadInteger(option, value(), 0, 2147483647));
            liveOnly = true;
        } else if (option == "--count") {
            options.Live.Count = static_cast<int>(ReadInteger(option, value(), 1, 2147483647));
            liveOnly = true;
        } else if (option == "--timeout") {
            options.Live.TimeoutS = ReadSeconds(option, value(), 31536000, false);
            liveOnly = true;
        } else if (option == "--json") {
            options.Live.Json = true;
        } else if (option == "--replay") {
            options.ReplayPaths.push_back(value());
            while (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0)
                options.ReplayPaths.push_back(argv[++i]);
        } else if (option == "--list") {
            options.List = true;
        } else {
            throw UsageError("unknown option \"" + option + "\"");
        }
    }
    if (options.List) {
        if (argc != 2) throw UsageError("--list takes no other option");
        return options;
    }
    const bool replay = !options.ReplayPaths.empty();
    if (options.PortGiven == replay) throw UsageError("give either --port N or --replay FILE");
    if (replay && liveOnly) throw UsageError("--replay takes no --section, --count or --timeout");
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("zentrok-monitor %s\n", zentrok::tools::ProjectVersion());
        return 0;
    }
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const UsageError& usage) {
        std::fputs(zentrok::tools::UsageErrorText("zentrok-monitor", usage, kUsage).c_str(), stderr);
        return 2;
    }
    if (options.List) return RunList();
    if (!options.ReplayPaths.empty()) return RunReplay(options.ReplayPaths, options.Live.Json);
    std::signal(SIGINT, OnInterrupt);
    return RunLive(options.Live, stopRequested);
}
