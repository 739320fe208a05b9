// The live monitor is a plain host: it uses the five exported calls only.
#include <chrono>
#include <cstdio>
#include <thread>

#include "monitor/item_format.h"
#include "monitor/item_printer.h"
#include "monitor/port_path.h"
#include "monitor/sessions.h"
#include "zentrok.h"

namespace zentrok::monitor {
namespace {

using Clock = std::chrono::steady_clock;

// Idle pause between polls: short, since each hand-off from the driver's
// reader runs inside a qen_GetMsg of this thread.
constexpr auto kIdlePoll = std::chrono::milliseconds(1);

}  // namespace

int RunLive(const LiveOptions& options, const volatile std::sig_atomic_t& stop) {
    const QenHandle port = qen_InitComm(options.Port, options.Section);
    if (!port) {
        const std::string path = PortDevicePath(options.Port);
        std::fprintf(stderr, "zentrok-monitor: port %d did not open: %s: %s\n", options.Port, path.c_str(),
                     PortOpenHint(path).c_str());
        return 1;
    }

    ItemPrinter printer(options.Json);
    const Clock::time_point start = Clock::now();
    const auto timedOut = [&] {
        return options.TimeoutS && std::chrono::duration<double>(Clock::now() - start).count() >= *options.TimeoutS;
    };
    QenMsg msg;
    while (!stop && !(options.Count && printer.Count() >= *options.Count) && !timedOut()) {
        FillSentinel(msg);
        if (qen_GetMsg(port, &msg) == 1)
            printer.Print(msg);
        else
            std::this_thread::sleep_for(kIdlePoll);
    }
    qen_CloseComm(port);

    if (!stop && options.Count && printer.Count() < *options.Count) {
        std::fprintf(stderr, "zentrok-monitor: %d of %d items within %g s\n", printer.Count(), *options.Count,
                     *options.TimeoutS);
        return 1;
    }
    return 0;
}

}  // namespace zentrok::monitor
