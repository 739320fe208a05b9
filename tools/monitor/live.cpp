// The live monitor is a plain host: it receives through the five exported
// calls only. Before it hands the port to the driver it opens and configures
// it once itself, with the driver's own Rn.ini reader and port code, to say
// why a port does not open and how the device took the line settings.
#include <chrono>
#include <cstdio>
#include <thread>

#include "link/line_settings.h"
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
// How often the monitor looks whether the device is still there.
constexpr auto kDeviceCheck = std::chrono::milliseconds(250);

void Say(const std::string& text) { std::fprintf(stderr, "zentrok-monitor: %s\n", text.c_str()); }

std::string ReasonText(const platform::OpenError& why) {
    switch (why.Reason) {
        case platform::OpenFailure::Missing: return "it does not exist";
        case platform::OpenFailure::InUse: return "it is in use by another program";
        case platform::OpenFailure::AccessDenied: return "access is denied (on Windows also: it is in use)";
        case platform::OpenFailure::NotATerminal: return "it is not a terminal device";
        case platform::OpenFailure::Other: break;
    }
    return "it did not open";
}

// Configures the port as the driver will and reads back what the device
// made of it; the settings stay on the device for the driver's open. False,
// having said why, when the port does not open.
bool ProbePort(const LiveOptions& options, const std::string& device, std::vector<std::string>& settings) {
    platform::OpenError why;
    auto probe = platform::SerialPort::Open(options.Port, &why);
    if (!probe) {
        Say("port " + std::to_string(options.Port) + " did not open: " + device + ": " + ReasonText(why) + " (" +
            why.SystemText + ")");
        return false;
    }
    const PortSetupReport report = ReportPortSetup(options.Section);
    settings = SettingsLines(options.Port, device, report, probe->Configure(report.Setup));
    return true;
}

enum class End { Asked, DeviceGone };

// Polls until the count is reached, the time-out passes, a stop is asked
// for or the device goes away. Whatever ends it, the items of a telegram
// under way are taken first: they are all deliverable at once, so the poll
// that delivers nothing marks the end of the telegram, which is then
// acknowledged.
End Poll(QenHandle port, const LiveOptions& options, const std::string& device, const volatile std::sig_atomic_t& stop,
         ItemPrinter& printer) {
    const Clock::time_point start = Clock::now();
    const auto timedOut = [&] {
        return options.TimeoutS && std::chrono::duration<double>(Clock::now() - start).count() >= *options.TimeoutS;
    };
    Clock::time_point nextCheck = start + kDeviceCheck;
    QenMsg msg;
    for (;;) {
        FillSentinel(msg);
        if (qen_GetMsg(port, &msg) == 1) {
            printer.Print(msg);
            continue;
        }
        if (stop || (options.Count && printer.Count() >= *options.Count) || timedOut()) return End::Asked;
        if (Clock::now() >= nextCheck) {
            if (!DevicePresent(device)) return End::DeviceGone;
            nextCheck = Clock::now() + kDeviceCheck;
        }
        std::this_thread::sleep_for(kIdlePoll);
    }
}

}  // namespace

int RunLive(const LiveOptions& options, const volatile std::sig_atomic_t& stop) {
    const std::string device = platform::SerialPort::DeviceName(options.Port);
    std::vector<std::string> settings;
    if (!ProbePort(options, device, settings)) return 1;
    const QenHandle port = qen_InitComm(options.Port, options.Section);
    if (!port) {
        Say("port " + std::to_string(options.Port) + " did not open in the driver: " + device +
            " was taken by another program meanwhile");
        return 1;
    }
    for (const std::string& line : settings) Say(line);
    Say("listening on COM" + std::to_string(options.Port) + "; Ctrl-C closes the port");

    ItemPrinter printer(options.Json);
    const End end = Poll(port, options, device, stop, printer);
    qen_CloseComm(port);

    if (end == End::DeviceGone) {
        Say("the device " + device + " has gone away; the port is closed after " + std::to_string(printer.Count()) +
            " items");
        return 1;
    }
    if (stop) return 0;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g s", options.TimeoutS.value_or(0));
    if (options.Count && printer.Count() < *options.Count) {
        Say(std::to_string(printer.Count()) + " of " + std::to_string(*options.Count) + " items within " + seconds);
        return 1;
    }
    if (printer.Count() == 0) Say(std::string("nothing arrived within ") + seconds);
    return 0;
}

}  // namespace zentrok::monitor
