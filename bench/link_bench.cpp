// Serial-link figures over pseudo-terminals, printed side by side from one run:
//  - stop-and-wait round trips per second through the driver, against a bare
//    pty ping-pong (one ACK echoed per end character, no driver), alternating;
//  - reader wake-ups of an idle port over ten seconds;
//  - resident memory across many telegrams and across open/close cycles.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "pty_device.h"
#include "zentrok.h"

namespace {

using namespace zentrok::bench;
using zentrok::kAck;
using zentrok::kEndCharacter;
using zentrok::pty::PortFolder;

// Round trips per second with a plain echo of ACK per end character.
double BarePingPong(int count) {
    PseudoTerminal pty;
    std::thread echo([&] {
        char buffer[256];
        for (int acked = 0; acked < count;) {
            const ssize_t n = read(pty.Slave(), buffer, sizeof buffer);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != kEndCharacter) continue;
                if (write(pty.Slave(), &kAck, 1) != 1) return;
                ++acked;
            }
        }
    });
    const auto start = Clock::now();
    Device(pty, count);
    const double rate = count / Seconds(Clock::now() - start);
    echo.join();
    return rate;
}

// Round trips per second through the driver, with the host thread polling.
double DriverStopAndWait(const PortFolder& ports, int count) {
    PseudoTerminal pty;
    pty.LinkAs(ports.LinkPath(1));
    QenHandle port = qen_InitComm(1, 1);
    if (!port) std::exit(1);
    std::atomic<bool> done{false};
    const auto start = Clock::now();
    std::thread device([&] {
        Device(pty, count);
        done = true;
    });
    QenMsg msg;
    while (!done) qen_GetMsg(port, &msg);
    const double rate = count / Seconds(Clock::now() - start);
    device.join();
    qen_CloseComm(port);
    return rate;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// Voluntary context switches of every thread but the calling one.
long OtherThreadWakeUps() {
    long total = 0;
    const std::string self = std::to_string(gettid());
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.' || self == entry->d_name) continue;
        std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::atol(line.c_str() + 24);
    }
    closedir(tasks);
    return total;
}

void StopAndWait(const PortFolder& ports, int rounds, int count) {
    std::vector<double> bare, driver, ratio;
    for (int r = 0; r < rounds; ++r) {
        bare.push_back(BarePingPong(count));
        driver.push_back(DriverStopAndWait(ports, count));
        ratio.push_back(driver.back() / bare.back());
        std::printf("  round %d: bare %.0f/s, driver %.0f/s, ratio %.2f\n", r + 1, bare.back(), driver.back(),
                    ratio.back());
    }
    std::printf(
        "stop-and-wait (median of %d rounds of %d telegrams): bare ping-pong %.0f round trips/s, "
        "driver %.0f round trips/s, driver/bare %.2f\n",
        rounds, count, Median(bare), Median(driver), Median(ratio));
}

void IdleWakeUps(const PortFolder& ports, int seconds) {
    PseudoTerminal pty;
    pty.LinkAs(ports.LinkPath(1));
    QenHandle port = qen_InitComm(1, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long before = OtherThreadWakeUps();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long wakeUps = OtherThreadWakeUps() - before;
    qen_CloseComm(port);
    const unsigned allowed = static_cast<unsigned>(seconds) * 1000 / zentrok::kIdleWaitMs;
    std::printf("idle port: %ld wake-ups of the driver's threads in %d s (one idle wait per %u ms allows %u)\n",
                wakeUps, seconds, static_cast<unsigned>(zentrok::kIdleWaitMs), allowed);
}

void Memory(const PortFolder& ports, int telegrams, int cycles) {
    {
        PseudoTerminal pty;
        pty.LinkAs(ports.LinkPath(1));
        QenHandle port = qen_InitComm(1, 1);
        std::atomic<bool> done{false};
        std::thread device([&] {
            Device(pty, 1000);  // warm up: every allocation the path makes once
            done = true;
        });
        QenMsg msg;
        while (!done) qen_GetMsg(port, &msg);
        device.join();
        const long before = ResidentKiB();
        done = false;
        std::thread more([&] {
            Device(pty, telegrams);
            done = true;
        });
        while (!done) qen_GetMsg(port, &msg);
        more.join();
        std::printf("memory: resident %+ld KiB over %d telegrams\n", ResidentKiB() - before, telegrams);
        qen_CloseComm(port);
    }
    PseudoTerminal pty;
    pty.LinkAs(ports.LinkPath(1));
    qen_CloseComm(qen_InitComm(1, 1));
    const long before = ResidentKiB();
    for (int i = 0; i < cycles; ++i) qen_CloseComm(qen_InitComm(1, 1));
    std::printf("memory: resident %+ld KiB over %d open/close cycles\n", ResidentKiB() - before, cycles);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    // No "Qenlog" folder in the working directory of the run: the figures are
    // for the receive path itself, not for the disk.
    const PortFolder ports;
    StopAndWait(ports, quick ? 3 : 7, quick ? 2000 : 20000);
    IdleWakeUps(ports, quick ? 4 : 10);
    Memory(ports, quick ? 10000 : 100000, quick ? 100 : 1000);
    return 0;
}
