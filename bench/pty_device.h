// The device end of the serial-link benchmarks: a device on a pseudo
// terminal (tools/pty) that sends one telegram, waits for its ACK and repeats.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "pty/pseudo_terminal.h"

namespace zentrok::bench {

using Clock = std::chrono::steady_clock;
using pty::PseudoTerminal;

const std::string kTelegram = "107A      3F2C XB123";

inline void ReadAck(PseudoTerminal& line) {
    for (std::string byte; byte.empty() || byte[0] != kAck;) {
        byte = line.Read(1, -1);
        if (byte.empty()) std::exit(1);
    }
}

// The device: sends a telegram, waits for its ACK, repeats.
inline void Device(PseudoTerminal& line, int count) {
    const std::string frame = kTelegram + kEndCharacter;
    for (int i = 0; i < count; ++i) {
        if (!line.Write(frame)) std::exit(1);
        ReadAck(line);
    }
}

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace zentrok::bench
