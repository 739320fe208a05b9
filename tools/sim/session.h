// Sends a script's telegrams over a line and counts the ACKs that come back.
#pragma once

#include <csignal>
#include <ostream>
#include <vector>

#include "sim/line.h"
#include "sim/script.h"

namespace zentrok::sim {

struct Pacing {
    bool StopAndWait = false;  // wait for each telegram's ACKs, up to TimeoutMs
    int TimeoutMs = 0;         // stop-and-wait: ACK time-out
    int IntervalMs = 0;        // otherwise: fixed time from one telegram to the next
    int ByteDelayMs = 0;       // above 0: telegrams go out a byte at a time, this far apart
};

struct Report {
    int Sent = 0;
    int Acks = 0;  // every ACK byte received, late ones included
    int ExpectedAcks = 0;
    int Unanswered = 0;                // telegrams that did not get all their ACKs in time
    int OtherBytes = 0;                // anything but ACK; the driver sends nothing else
    std::vector<double> RoundTripsMs;  // first byte sent to last expected ACK
    bool Interrupted = false;
    bool Refused = false;  // the line refused a telegram, so the rest was not sent
};

// Sends every telegram with the end character appended; one line per
// telegram on `out`. Stops early when `stop` becomes non-zero or a write fails.
Report SendScript(Line& line, const Script& script, const Pacing& pacing, const volatile std::sig_atomic_t& stop,
                  std::ostream& out);

// Every telegram was sent and got its ACKs in time, and nothing but ACKs
// came back.
bool AcknowledgedAsExpected(const Report& report);

// The closing summary: counts and round-trip times (min/median/max).
void PrintReport(const Report& report, std::ostream& out);

}  // namespace zentrok::sim
