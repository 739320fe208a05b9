// zentrok-sim: plays the device end of a serial line. It sends telegrams
// from a script (or built-in samples), each with the end character, and
// reports the ACKs that the driver sends back.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/options.h"
#include "sim/line.h"
#include "sim/script.h"
#include "sim/session.h"

namespace {

using namespace zentrok::sim;
using zentrok::tools::ReadInteger;
using zentrok::tools::ReadSeconds;
using zentrok::tools::UsageError;

constexpr const char* kUsage =
    R"(usage: zentrok-sim (--pty DIR --port N | --wine-prefix DIR --port N | --device PATH [--baud N])
                  (--script FILE | --samples)
                  [--ack-timeout MS | --interval MS] [--byte-delay MS] [--wait-host S]
       zentrok-sim --version

Plays the device end of a serial line: sends telegrams, each followed by the
end character 0x14, and counts the ACK bytes (0x06) the driver answers with.

  --pty DIR        create a pseudo-terminal and link DIR/COM<N> to it; run the
                   host with ZENTROK_PORT_DIR=DIR (not available on Windows)
  --wine-prefix DIR  for a Windows host under Wine: create a pseudo-terminal,
                   link it as DIR/dosdevices/com<N> (the host opens COM<N>) and
                   give it a session of its own, so that the wineserver never
                   takes it as its terminal and gets its hang-up
  --port N         the port number of that link
  --device PATH    use an existing port instead (Windows: \\.\COM<n>)
  --baud N         line speed of --device (default 9600; 8 data bits, no parity)
  --script FILE    telegrams to send, one per line; escapes \xHH \\ \t \r \n and
                   \e (an end character inside a telegram); "#" starts a comment
                   line; empty lines are ignored
  --samples        send one built-in telegram of every type instead
  --ack-timeout MS stop-and-wait: send the next telegram once the ACKs of the
                   last one are in (two for type "0"), or after MS milliseconds
  --interval MS    send one telegram every MS milliseconds (default 100)
  --byte-delay MS  send each telegram one byte at a time, MS milliseconds
                   apart (the ACK time-out and the round trip count from the
                   first byte)
  --wait-host S    before the first telegram, wait up to S seconds for a host
                   to open the port (pseudo-terminal: it is seen for certain,
                   by the driver's exclusive-use flag or, under Wine, by the
                   host holding the terminal open, and not seeing it is an
                   error; device: DSR is watched, then the telegrams go out
                   regardless). Bytes sent before the host has opened the port
                   are not framed as telegrams.
  --version        print the version and end

At the end it reports the telegrams sent, the ACKs received and the round
trip times (from the first byte sent to the telegram's last ACK).

Exit status: 0 when every telegram got its ACKs in time and nothing else
came back; 1 when not, or when the script, the line or the host failed;
2 for a usage error; 130 when interrupted.
)";

// The host opens the port and only then starts watching for the end
// character; this gives it the time to do so before the first telegram.
constexpr auto kHostSettleTime = std::chrono::milliseconds(250);

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnInterrupt(int) { stopRequested = 1; }

struct Options {
    std::string PtyDir;
    std::string WinePrefix;
    std::optional<int> Port;
    std::string Device;
    unsigned Baud = 9600;
    std::string ScriptPath;
    bool Samples = false;
    std::optional<int> AckTimeoutMs;
    std::optional<int> IntervalMs;
    int ByteDelayMs = 0;
    double WaitHostSeconds = 0;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(option + " needs a value");
            return argv[++i];
        };
        if (option == "--pty") {
            options.PtyDir = value();
        } else if (option == "--wine-prefix") {
            options.WinePrefix = value();
        } else if (option == "--byte-delay") {
            options.ByteDelayMs = static_cast<int>(ReadInteger(option, value(), 0, 60000));
        } else if (option == "--port") {
            options.Port = static_cast<int>(ReadInteger(option, value(), 1, 255));
        } else if (option == "--device") {
            options.Device = value();
        } else if (option == "--baud") {
            options.Baud = static_cast<unsigned>(ReadInteger(option, value(), 1, 4000000));
        } else if (option == "--script") {
            options.ScriptPath = value();
        } else if (option == "--samples") {
            options.Samples = true;
        } else if (option == "--ack-timeout") {
            options.AckTimeoutMs = static_cast<int>(ReadInteger(option, value(), 1, 3600000));
        } else if (option == "--interval") {
            options.IntervalMs = static_cast<int>(ReadInteger(option, value(), 0, 3600000));
        } else if (option == "--wait-host") {
            options.WaitHostSeconds = ReadSeconds(option, value(), 86400, true);
        } else {
            throw UsageError("unknown option \"" + option + "\"");
        }
    }
    const int lines = !options.PtyDir.empty() + !options.WinePrefix.empty() + !options.Device.empty();
    if (lines != 1) throw UsageError("give either --pty DIR or --device PATH");
    if (!options.PtyDir.empty() && !options.Port) throw UsageError("--pty needs --port N");
    if (!options.WinePrefix.empty() && !options.Port) throw UsageError("--wine-prefix needs --port N");
    if (!options.Device.empty() && options.Port) throw UsageError("--port goes with --pty; --device names the port");
    if (options.ScriptPath.empty() == !options.Samples) throw UsageError("give either --script FILE or --samples");
    if (options.AckTimeoutMs && options.IntervalMs) throw UsageError("--ack-timeout and --interval exclude each other");
    return options;
}

Script LoadScript(const Options& options) {
    if (options.Samples) return SampleScript();
    std::ifstream file(options.ScriptPath, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the script " + options.ScriptPath);
    return ParseScript(file);
}

// False when a host that the line can see did not come in time.
bool WaitForHost(Line& line, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!line.HostPresent()) {
        if (stopRequested || std::chrono::steady_clock::now() >= deadline) return !line.SeesHost();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(kHostSettleTime);
    return true;
}

int Run(const Options& options) {
    const Script script = LoadScript(options);
    if (script.Error) {
        const std::string source = options.Samples ? "samples" : options.ScriptPath;
        std::cerr << "zentrok-sim: " << source << ":" << script.Error->Line << ": " << script.Error->Message
                  << "; nothing was sent\n";
        return 1;
    }

    std::string error;
    const auto line = options.Device.empty()
                          ? OpenPseudoTerminal(PortLinkFor(options.PtyDir, options.WinePrefix, *options.Port), error)
                          : OpenDevice(options.Device, options.Baud, error);
    if (!line) {
        std::cerr << "zentrok-sim: " << error << '\n';
        return 1;
    }
    std::cout << "zentrok-sim: " << line->Description() << '\n' << std::flush;

    if (options.WaitHostSeconds > 0 && !WaitForHost(*line, options.WaitHostSeconds)) {
        std::cerr << "zentrok-sim: no host opened the port within " << options.WaitHostSeconds << " s\n";
        return 1;
    }

    Pacing pacing;
    pacing.StopAndWait = options.AckTimeoutMs.has_value();
    pacing.TimeoutMs = options.AckTimeoutMs.value_or(0);
    pacing.IntervalMs = options.IntervalMs.value_or(100);
    pacing.ByteDelayMs = options.ByteDelayMs;
    const Report report = SendScript(*line, script, pacing, stopRequested, std::cout);
    PrintReport(report, std::cout);
    if (report.Interrupted) return 130;
    if (!AcknowledgedAsExpected(report)) {
        std::cerr << "zentrok-sim: not every telegram was acknowledged as expected\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "zentrok-sim " << zentrok::tools::ProjectVersion() << '\n';
        return 0;
    }
    try {
        return Run(ParseOptions(argc, argv));
    } catch (const UsageError& usage) {
        std::cerr << zentrok::tools::UsageErrorText("zentrok-sim", usage, kUsage);
        return 2;
    } catch (const std::exception& failure) {
        std::cerr << "zentrok-sim: " << failure.what() << '\n';
        return 1;
    }
}
