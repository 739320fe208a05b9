// The monitor's two ways of getting items: from an open port, through the
// driver's exported calls, or from a telegram log, through its decoder.
#pragma once

#include <csignal>
#include <optional>
#include <string>
#include <vector>

namespace zentrok::monitor {

struct LiveOptions {
    int Port = 0;
    int Section = 1;
    std::optional<int> Count;        // stop after this many items
    std::optional<double> TimeoutS;  // stop after this many seconds
    bool Json = false;
};

// Prints what the host receives from the port until Count items arrived,
// the time-out passed or `stop` became non-zero, saying on stderr when the
// device goes away and when it is back, then the driver's counters. Exit
// status: 0, or 1 when the port did not open, fewer than Count items came in
// time or the device was away as the monitor ended.
int RunLive(const LiveOptions& options, const volatile std::sig_atomic_t& stop);

// Prints the items that the telegrams of the logs at `paths` yield, with the
// time each telegram was logged; a folder stands for its log files (*.zqa)
// in name order. Unreadable lines are reported on stderr with their
// numbers. Exit status: 0, or 1 when a file could not be read, a line was
// bad, or a folder, a file or the whole run held no telegram.
int RunReplay(const std::vector<std::string>& paths, bool json);

// Prints the ports a host could open (see ListPorts). Exit status: 0, or 1
// when there is none.
int RunList();

}  // namespace zentrok::monitor
