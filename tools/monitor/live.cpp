// The live monitor is a plain host: it receives through the exported calls
// and learns from qen_GetLineState how the device took the line settings,
// whether it is there and what the driver counted. It leaves the port to the
// driver: only when qen_InitComm gives no port does it open the device once
// itself, to say why in the words of the driver's trace.
#include <chrono>
#include <cstdio>
#include <thread>

#include "link/line_settings.h"
#include "link/trace.h"
#include "monitor/item_format.h"
#include "monitor/item_printer.h"
#include "monitor/port_path.h"
#include "monitor/sessions.h"
#include "monitor/settings_text.h"
#include "platform/platform.h"
#include "zentrok.h"

namespace zentrok::monitor {
namespace {

using Clock = std::chrono::steady_clock;

// Idle pause between polls: short, since each hand-off from the driver's
// reader runs inside a qen_GetMsg of this thread.
constexpr auto kIdlePoll = std::chrono::milliseconds(1);
// How often the monitor looks at the port's line state.
constexpr auto kLineLook = std::chrono::milliseconds(250);
// Before its last look at the counters the monitor gives the driver's reader
// this long to acknowledge the telegram whose last item it has just taken.
constexpr auto kAckSettle = std::chrono::milliseconds(50);
// The folder of the telegram log, in the current directory.
constexpr const char* kLogFolder = "Qenlog";

void Say(const std::string& text) { std::fprintf(stderr, "zentrok-monitor: %s\n", text.c_str()); }

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

// Why port `number` did not open, as the driver's trace says it. The driver
// tells its host nothing, so the device is tried once more here.
std::string WhyNotOpened(int number, const std::string& device) {
    platform::OpenError why;
    if (platform::SerialPort::Open(number, &why))
        return device + ": the driver did not open it, though it opens now (another program may have held it)";
    return device + ": " + Trace::OpenFailureText(why);
}

QenLineState LineStateOf(QenHandle port) {
    QenLineState state{};
    state.Size = sizeof state;
    qen_GetLineState(port, &state);
    return state;
}

// What the monitor says while it listens, from the port's line state: the
// device going and coming back, and log lines the driver could not write.
class LineWatch {
public:
    LineWatch(QenHandle port, std::string device, bool logFolderKnownBad)
        : port_(port), device_(std::move(device)), logFolderKnownBad_(logFolderKnownBad), last_(LineStateOf(port)) {}

    // Looks at the line state again and says what changed. The last look,
    // as the run ends, leaves out the device: one that goes as the run ends
    // (a simulator done with its telegrams) is no news.
    void Look(int items, bool last = false) {
        const QenLineState state = LineStateOf(port_);
        if (!last) LookAtDevice(state, items);
        if (state.LogLinesNotWritten != last_.LogLinesNotWritten && !logFolderKnownBad_) {
            const std::string problem = FolderProblem(kLogFolder);
            Say("log lines not written: " + std::to_string(state.LogLinesNotWritten) + " so far; " +
                (problem.empty() ? "the log file could not be opened or written" : LogFolderText(problem)));
        }
        last_ = state;
    }

    // Whether the device was away at the last look that said so.
    bool Away() const { return away_; }
    std::string AwayText() const { return Seconds(std::chrono::duration<double>(Clock::now() - wentAt_).count()); }
    const QenLineState& Last() const { return last_; }

    static std::string LogFolderText(const std::string& problem) {
        return "the log folder " + std::string(kLogFolder) + " in the current directory: " + problem;
    }

private:
    void LookAtDevice(const QenLineState& state, int items) {
        if (!state.DevicePresent && !away_) {
            away_ = true;
            wentAt_ = Clock::now() - std::chrono::milliseconds(state.AwayMs);
            Say("the device " + device_ + " has gone away after " + std::to_string(items) +
                " items; the port waits for it to come back");
        } else if (state.DevicePresent && (away_ || state.Reopens != last_.Reopens)) {
            const std::string line =
                state.SettingsKnown ? LineText(ReportedLine(state)) : "the device did not report its settings";
            Say("the device " + device_ + (away_ ? " is back after " + AwayText() : " went away and is back") + ": " +
                line + "; listening again");
            away_ = false;
        }
    }

    QenHandle port_;
    std::string device_;
    bool logFolderKnownBad_;
    QenLineState last_;
    bool away_ = false;
    Clock::time_point wentAt_;
};

// The settings the device took, the keys that took their defaults, and a log
// folder the driver cannot write. True when the log folder is known bad.
bool SayOpened(QenHandle port, const LiveOptions& options, const std::string& device) {
    const QenLineState state = LineStateOf(port);
    for (const std::string& line : SettingsLines(options.Port, device, ReportPortSetup(options.Section), state))
        Say(line);
    const std::string problem = FolderProblem(kLogFolder);
    if (!problem.empty()) Say(LineWatch::LogFolderText(problem) + "; telegrams are not logged");
    return !problem.empty();
}

// Polls until the count is reached, the time-out passes or a stop is asked
// for, watching the line meanwhile. Whatever ends it, the items of a
// telegram under way are taken first: they are all deliverable at once, so
// the poll that delivers nothing marks the end of the telegram, which is
// then acknowledged.
void Poll(QenHandle port, const LiveOptions& options, const volatile std::sig_atomic_t& stop, ItemPrinter& printer,
          LineWatch& watch) {
    const Clock::time_point start = Clock::now();
    const auto timedOut = [&] {
        return options.TimeoutS && std::chrono::duration<double>(Clock::now() - start).count() >= *options.TimeoutS;
    };
    Clock::time_point nextLook = start + kLineLook;
    QenMsg msg;
    for (;;) {
        FillSentinel(msg);
        if (qen_GetMsg(port, &msg) == 1) {
            printer.Print(msg);
            continue;
        }
        if (stop || (options.Count && printer.Count() >= *options.Count) || timedOut()) return;
        if (Clock::now() >= nextLook) {
            watch.Look(printer.Count());
            nextLook = Clock::now() + kLineLook;
        }
        std::this_thread::sleep_for(kIdlePoll);
    }
}

// What ends the run: the counters, then a device still away or too few items.
int SayEnd(const LiveOptions& options, const volatile std::sig_atomic_t& stop, const ItemPrinter& printer,
           const LineWatch& watch, const std::string& device) {
    int status = 0;
    if (watch.Away()) {
        Say("the device " + device + " is still away, for " + watch.AwayText());
        status = 1;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g s", options.TimeoutS.value_or(0));
    if (!stop && options.Count && printer.Count() < *options.Count) {
        Say(std::to_string(printer.Count()) + " of " + std::to_string(*options.Count) + " items within " + seconds);
        status = 1;
    } else if (!stop && printer.Count() == 0) {
        Say(std::string("nothing arrived within ") + seconds);
    }
    Say("COM" + std::to_string(options.Port) + " counted " + CountersText(watch.Last()));
    return status;
}

}  // namespace

int RunLive(const LiveOptions& options, const volatile std::sig_atomic_t& stop) {
    const std::string device = platform::SerialPort::DeviceName(options.Port);
    const QenHandle port = qen_InitComm(options.Port, options.Section);
    if (!port) {
        Say("port " + std::to_string(options.Port) + " did not open: " + WhyNotOpened(options.Port, device));
        return 1;
    }
    const bool logFolderBad = SayOpened(port, options, device);
    Say("listening on COM" + std::to_string(options.Port) + "; Ctrl-C closes the port");

    ItemPrinter printer(options.Json);
    LineWatch watch(port, device, logFolderBad);
    Poll(port, options, stop, printer, watch);
    std::this_thread::sleep_for(kAckSettle);
    watch.Look(printer.Count(), true);
    qen_CloseComm(port);
    return SayEnd(options, stop, printer, watch, device);
}

}  // namespace zentrok::monitor
