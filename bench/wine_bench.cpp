// Round trips under Wine, printed side by side from one run: a device on the
// Linux side of a pseudo terminal sends a telegram and waits for its ACK,
// against a bare Windows echo host and against the DLL with a polling host
// and with a host that sleeps in MsgWaitForMultipleObjects, in alternating
// rounds on the same terminal, which the prefix knows as COM<port>.
//
// Usage: zentrok_wine_bench <wine-run.sh> <prefix> <wine_bench_host.exe>
//            [--compare <other wine_bench_host.exe>] [--quick]
// --compare adds rounds of another build's host and DLL (an earlier one),
// so that both are measured side by side against the same bare echo.
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pty_device.h"

namespace {

using namespace zentrok::bench;

constexpr int kPort = 41;

struct Run {
    const char* wineRun;
    const char* prefix;
    const char* host;
};

// One round of `mode` with `count` telegrams; round trips per second, or 0
// when the host failed.
double Round(const Run& run, PseudoTerminal& pty, const termios& initial, const char* mode, int count) {
    int toParent[2];
    if (pipe(toParent) != 0) std::exit(1);
    const std::string port = std::to_string(kPort);
    const std::string telegrams = std::to_string(count);
    // Every host starts from the line the terminal was made with: the driver
    // leaves its own settings behind (VMIN 0 among them), with which Wine's
    // blocking read in the bare echo would poll instead of sleeping.
    tcsetattr(pty.Slave(), TCSANOW, &initial);
    const pid_t host = fork();
    if (host == 0) {
        dup2(toParent[1], STDOUT_FILENO);
        close(toParent[0]);
        execl(run.wineRun, run.wineRun, run.prefix, run.host, mode, port.c_str(), telegrams.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toParent[1]);
    // "ready" and the end of the line, which the host's text mode may write as CR LF.
    std::string said;
    for (char c = 0; c != '\n' && read(toParent[0], &c, 1) == 1;) said += c;
    const bool ready = said.rfind("ready", 0) == 0;
    close(toParent[0]);
    double rate = 0;
    tcflush(pty.Master(), TCIFLUSH);  // nothing of an earlier round counts as an ACK
    if (ready) {
        const auto start = Clock::now();
        Device(pty, count);
        rate = count / Seconds(Clock::now() - start);
    }
    int status = 0;
    waitpid(host, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? rate : 0;
}

}  // namespace

// One kind of round: which host program, in which mode.
struct Kind {
    std::string name;
    const char* host;
    const char* mode;
};

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s <wine-run.sh> <prefix> <wine_bench_host.exe> [--compare <other host.exe>] "
                     "[--quick]\n",
                     argv[0]);
        return 2;
    }
    const char* wineRun = argv[1];
    const char* prefix = argv[2];
    std::vector<Kind> kinds = {{"bare echo", argv[3], "echo"},
                               {"driver, polling host", argv[3], "poll"},
                               {"driver, waiting host", argv[3], "wait"}};
    bool quick = false;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        if (std::strcmp(argv[i], "--compare") == 0 && i + 1 < argc) {
            kinds.push_back({"other driver, polling host", argv[i + 1], "poll"});
            kinds.push_back({"other driver, waiting host", argv[i + 1], "wait"});
            ++i;
        }
    }
    const int rounds = quick ? 3 : 5;
    const int count = quick ? 1000 : 4000;

    // The terminal has a session of its own, for the Wine server (see
    // pty/pseudo_terminal.h); neither Wine nor its server keeps its ends open.
    PseudoTerminal pty;
    pty.HoldSession();
    termios initial{};
    tcgetattr(pty.Slave(), &initial);
    pty.LinkAs(zentrok::pty::WineLinkPath(prefix, kPort));

    // Not counted: the first start of Wine on the prefix, and the first open
    // of the terminal by each kind of host.
    for (const Kind& kind : kinds) Round({wineRun, prefix, kind.host}, pty, initial, kind.mode, 200);
    std::vector<std::vector<double>> rates(kinds.size()), ratios(kinds.size());
    for (int r = 0; r < rounds; ++r) {
        std::printf("  round %d:", r + 1);
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            const Kind& kind = kinds[k];
            rates[k].push_back(
                Round({wineRun, prefix, kind.host}, pty, initial, kind.mode, k == 0 ? count * 4 : count));
            ratios[k].push_back(rates[k].back() / rates[0].back());
            std::printf(" %s %.0f/s (%.3f)%s", kind.name.c_str(), rates[k].back(), ratios[k].back(),
                        k + 1 < kinds.size() ? "," : "\n");
            std::fflush(stdout);
        }
    }
    std::printf("wine stop-and-wait, median of %d rounds (ratio to the bare echo of the same round):\n", rounds);
    for (std::size_t k = 0; k < kinds.size(); ++k)
        std::printf("  %-28s %6.0f round trips/s, ratio %.3f\n", kinds[k].name.c_str(), Median(rates[k]),
                    Median(ratios[k]));
    return 0;
}
