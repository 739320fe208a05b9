// Round trips under Wine, printed side by side from one run: a device on the
// Linux side of a pseudo terminal sends a telegram and waits for its ACK,
// against a bare Windows echo host and against the DLL with a polling host
// and with a host that sleeps in MsgWaitForMultipleObjects, in alternating
// rounds on the same terminal, which the prefix knows as COM<port>.
//
// Usage: zentrok_wine_bench <wine-run.sh> <prefix> <wine_bench_host.exe> [--quick]
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
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

// Holds the terminal as the controlling terminal of a session of its own, so
// that the Wine server, which opens the device for the host, cannot take it
// as its own and get the hang-up at the end.
pid_t HoldSession(int slave) {
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        signal(SIGHUP, SIG_IGN);
        for (;;) pause();
    }
    return child;
}

struct Run {
    const char* wineRun;
    const char* prefix;
    const char* host;
};

// One round of `mode` with `count` telegrams; round trips per second, or 0
// when the host failed.
double Round(const Run& run, const Pty& pty, const termios& initial, const char* mode, int count) {
    int toParent[2];
    if (pipe(toParent) != 0) std::exit(1);
    const std::string port = std::to_string(kPort);
    const std::string telegrams = std::to_string(count);
    // Every host starts from the line the terminal was made with: the driver
    // leaves its own settings behind (VMIN 0 among them), with which Wine's
    // blocking read in the bare echo would poll instead of sleeping.
    tcsetattr(pty.slave, TCSANOW, &initial);
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
    tcflush(pty.master, TCIFLUSH);  // nothing of an earlier round counts as an ACK
    if (ready) {
        const auto start = Clock::now();
        Device(pty.master, count);
        rate = count / Seconds(Clock::now() - start);
    }
    int status = 0;
    waitpid(host, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? rate : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <wine-run.sh> <prefix> <wine_bench_host.exe> [--quick]\n", argv[0]);
        return 2;
    }
    const Run run{argv[1], argv[2], argv[3]};
    const bool quick = argc > 4 && std::strcmp(argv[4], "--quick") == 0;
    const int rounds = quick ? 3 : 5;
    const int count = quick ? 1000 : 4000;

    Pty pty;
    // Neither Wine nor its server keeps the terminal's ends open.
    fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    const pid_t holder = HoldSession(pty.slave);
    termios initial{};
    tcgetattr(pty.slave, &initial);
    const std::string link = std::string(run.prefix) + "/dosdevices/com" + std::to_string(kPort);
    unlink(link.c_str());
    if (symlink(pty.slavePath.c_str(), link.c_str()) != 0) {
        std::perror(link.c_str());
        return 1;
    }

    const char* modes[] = {"echo", "poll", "wait"};
    std::vector<double> rates[3], pollRatio, waitRatio;
    for (int r = 0; r < rounds; ++r) {
        for (int m = 0; m < 3; ++m) rates[m].push_back(Round(run, pty, initial, modes[m], m == 0 ? count * 4 : count));
        pollRatio.push_back(rates[1].back() / rates[0].back());
        waitRatio.push_back(rates[2].back() / rates[0].back());
        std::printf("  round %d: bare echo %.0f/s, driver polling %.0f/s (%.3f), driver waiting %.0f/s (%.3f)\n",
                    r + 1, rates[0].back(), rates[1].back(), pollRatio.back(), rates[2].back(), waitRatio.back());
        std::fflush(stdout);
    }
    std::printf("wine stop-and-wait (median of %d rounds): bare echo %.0f round trips/s, driver with a polling "
                "host %.0f/s, ratio %.3f; driver with a waiting host %.0f/s, ratio %.3f\n",
                rounds, Median(rates[0]), Median(rates[1]), Median(pollRatio), Median(rates[2]), Median(waitRatio));
    unlink(link.c_str());
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    return 0;
}
