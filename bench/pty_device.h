// The device end of the serial-link benchmarks: a pseudo terminal and a
// device that sends one telegram, waits for its ACK and repeats.
#pragma once

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/protocol.h"

namespace zentrok::bench {

using Clock = std::chrono::steady_clock;

const std::string kTelegram = "107A      3F2C XB123";

struct Pty {
    int master = -1;
    int slave = -1;
    std::string slavePath;

    Pty() {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        slavePath = name;
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

inline void WriteAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) std::exit(1);
        done += static_cast<std::size_t>(n);
    }
}

inline void ReadAck(int fd) {
    char byte = 0;
    while (byte != kAck) {
        if (read(fd, &byte, 1) != 1) std::exit(1);
    }
}

// The device: sends a telegram, waits for its ACK, repeats.
inline void Device(int master, int count) {
    const std::string frame = kTelegram + kEndCharacter;
    for (int i = 0; i < count; ++i) {
        WriteAll(master, frame);
        ReadAck(master);
    }
}

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace zentrok::bench
