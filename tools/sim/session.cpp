#include "sim/session.h"

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <thread>

namespace zentrok::sim {
namespace {

using Clock = std::chrono::steady_clock;

// Reads are cut into slices this long so that Ctrl-C is noticed promptly.
constexpr int kSliceMs = 50;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Count(const std::string& bytes, int& acks, int& other) {
    for (const char c : bytes) (c == kAck ? acks : other) += 1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Answer {
    int Acks = 0;
    double RoundTripMs = -1;  // set once all expected ACKs are in
};

// Reads the answer to a telegram sent at `start`: in stop-and-wait until its
// ACKs are in or the time-out passes, otherwise for the whole interval.
Answer AwaitAnswer(Line& line, int expected, Clock::time_point start, const Pacing& pacing,
                   const volatile std::sig_atomic_t& stop, int& otherBytes) {
    const int windowMs = pacing.StopAndWait ? pacing.TimeoutMs : pacing.IntervalMs;
    Answer answer;
    for (double elapsed = 0; elapsed < windowMs && !stop; elapsed = MillisecondsSince(start)) {
        if (pacing.StopAndWait && answer.Acks >= expected) break;
        const int waitMs = std::min(kSliceMs, static_cast<int>(windowMs - elapsed) + 1);
        Count(line.Read(waitMs), answer.Acks, otherBytes);
        if (answer.RoundTripMs < 0 && expected > 0 && answer.Acks >= expected)
            answer.RoundTripMs = MillisecondsSince(start);
    }
    return answer;
}

// Writes the telegram and its end character, at once or a byte at a time.
bool SendTelegram(Line& line, const std::string& bytes, const Pacing& pacing, const volatile std::sig_atomic_t& stop) {
    if (pacing.ByteDelayMs <= 0) return line.Write(bytes);
    for (std::size_t i = 0; i < bytes.size() && !stop; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pacing.ByteDelayMs));
        if (!line.Write(bytes.substr(i, 1))) return false;
    }
    return true;
}

}  // namespace

Report SendScript(Line& line, const Script& script, const Pacing& pacing, const volatile std::sig_atomic_t& stop,
                  std::ostream& out) {
    Report report;
    out << std::fixed << std::setprecision(2);
    for (const ScriptTelegram& telegram : script.Telegrams) {
        // ACKs that come after their telegram's time-out count in the total
        // only, never for the next telegram.
        for (std::string late; !(late = line.Read(0)).empty();) Count(late, report.Acks, report.OtherBytes);
        if (stop) break;

        out << "telegram " << report.Sent + 1 << " (line " << telegram.Line << "): ";
        const Clock::time_point start = Clock::now();
        if (!SendTelegram(line, telegram.Bytes + kEndCharacter, pacing, stop)) {
            out << "the port refused it; stopping\n";
            report.Refused = true;
            break;
        }
        ++report.Sent;
        const int expected = ExpectedAcks(telegram.Bytes);
        report.ExpectedAcks += expected;
        const Answer answer = AwaitAnswer(line, expected, start, pacing, stop, report.OtherBytes);
        report.Acks += answer.Acks;

        out << "sent \"" << Escaped(telegram.Bytes) << "\" (" << telegram.Bytes.size() << " bytes); ACKs "
            << answer.Acks << "/" << expected;
        if (answer.RoundTripMs >= 0) {
            out << " in " << answer.RoundTripMs << " ms";
            report.RoundTripsMs.push_back(answer.RoundTripMs);
        } else if (answer.Acks < expected) {
            out << " after " << MillisecondsSince(start) << " ms";
            ++report.Unanswered;
        }
        out << '\n' << std::flush;
    }
    report.Interrupted = stop != 0;
    return report;
}

bool AcknowledgedAsExpected(const Report& report) {
    return !report.Refused && report.Unanswered == 0 && report.Acks == report.ExpectedAcks && report.OtherBytes == 0;
}

void PrintReport(const Report& report, std::ostream& out) {
    out << std::fixed << std::setprecision(2);
    out << "telegrams sent:        " << report.Sent << '\n';
    out << "ACKs received:         " << report.Acks << " of " << report.ExpectedAcks << " expected\n";
    out << "telegrams not ACKed:   " << report.Unanswered << '\n';
    if (report.OtherBytes > 0) out << "other bytes received:  " << report.OtherBytes << '\n';
    if (report.RoundTripsMs.empty()) {
        out << "round trip:            no telegram was acknowledged\n";
    } else {
        const auto [low, high] = std::minmax_element(report.RoundTripsMs.begin(), report.RoundTripsMs.end());
        out << "round trip (ms):       min " << *low << ", median " << Median(report.RoundTripsMs) << ", max " << *high
            << " over " << report.RoundTripsMs.size() << " telegrams\n";
    }
    if (report.Interrupted) out << "interrupted before the end of the script\n";
    out << std::flush;
}

}  // namespace zentrok::sim
