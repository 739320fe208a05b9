#include "link/trace.h"

#include <cstdio>
#include <mutex>

#include "link/line_settings.h"
#include "link/protocol.h"

namespace zentrok {
namespace {

// Lines of all ports go through one lock, so they never interleave.
std::mutex& TraceLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::string TimeText(const QenSystemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned{t.wYear}, unsigned{t.wMonth},
                  unsigned{t.wDay}, unsigned{t.wHour}, unsigned{t.wMinute}, unsigned{t.wSecond},
                  unsigned{t.wMilliseconds});
    return text;
}

// The telegram in double quotes, bytes outside printable ASCII as \xHH.
std::string Quoted(std::string_view bytes) {
    std::string text = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        } else {
            text += c;
        }
    }
    return text + '"';
}

const char* ReasonText(platform::OpenFailure reason) {
    switch (reason) {
        case platform::OpenFailure::Missing: return "missing";
        case platform::OpenFailure::InUse: return "in use";
        case platform::OpenFailure::AccessDenied: return "access denied";
        case platform::OpenFailure::NotATerminal: return "not a serial device";
        case platform::OpenFailure::Other: break;
    }
    return "failed";
}

std::string ErrorsText(const QueueStatus& status) {
    std::string text;
    const auto add = [&](bool happened, const char* what) {
        if (happened) text += (text.empty() ? "" : ", ") + std::string(what);
    };
    add(status.Line.Overrun, "overrun");
    add(status.Line.QueueOverflow, "device input queue overflow");
    add(status.Line.Framing, "framing error");
    add(status.Line.Parity, "parity error");
    add(status.Line.Break, "break");
    add(status.Overflowed, "driver input queue overflow");
    return text;
}

std::string KeyValue(const SettingReport& setting) {
    return std::string(setting.Key) + "=" + std::to_string(setting.Value);
}

}  // namespace

std::vector<std::string> ValueNotes(const PortSetupReport& report, const platform::LineSettings& held) {
    std::vector<std::string> notes;
    for (const SettingReport& setting : report.Keys)
        if (const std::optional<std::string> range = RangeMissed(setting))
            notes.push_back(KeyValue(setting) + ": out of range (" + *range + "); it stays at " +
                            HeldText(setting.Key, held));
    for (const SettingReport& setting : report.Keys) {
        if (setting.Origin != SettingOrigin::NotANumber && setting.Origin != SettingOrigin::OutOfRange) continue;
        const char* why = setting.Origin == SettingOrigin::NotANumber ? "not a number" : "out of range";
        notes.push_back("default " + KeyValue(setting) + ": " + why + ": " + Quoted(setting.Text));
    }
    return notes;
}

Trace Trace::ForPort(std::int32_t port) {
    Trace trace;
    trace.path_ = platform::EnvironmentValue(kTraceVariable);
    trace.port_ = port;
    return trace;
}

void Trace::Write(const std::string& text) const {
    if (!On()) return;
    const std::string line = TimeText(platform::LocalNow()) + " COM" + std::to_string(port_) + " " + text + "\r\n";
    std::lock_guard<std::mutex> guard(TraceLock());
    platform::AppendToFile(path_, line.data(), line.size(), 0);  // a held trace file loses the line, never waits
}

void Trace::Opened(const std::string& device, std::int32_t recNumber, const platform::LineSettings& asked,
                   const platform::ConfigureResult& configured) const {
    if (!On()) return;
    Write("opened " + device);
    if (!configured.FailedCalls.empty()) Write("configure failed: " + configured.FailedCalls);
    // The values as written: the section is read again, only while tracing.
    // Should Rn.ini have changed since the port's own read, the line is
    // given as it was asked for, without notes.
    const PortSetupReport report = ReportPortSetup(recNumber);
    const bool sameFile = LineDifferences(report.Setup.Line, asked).empty();
    std::string settings = "line settings of RecNr" + std::to_string(recNumber) + ": asked " +
                           (sameFile ? AskedText(report) : LineText(asked));
    if (!configured.ReadBack) {
        Write(settings + "; the device did not report its settings");
    } else {
        std::string differing;
        for (const LineDifference& difference : LineDifferences(asked, configured.Reported))
            differing += (differing.empty() ? "" : ", ") + std::string(difference.Key);
        Write(settings + "; the device reports " + LineText(configured.Reported) +
              (differing.empty() ? "; as asked" : "; differs: " + differing));
    }
    if (!sameFile) return;
    for (const std::string& note : ValueNotes(report, configured.ReadBack ? configured.Reported : asked)) Write(note);
}

std::string Trace::OpenFailureText(const platform::OpenError& why) {
    return std::string(ReasonText(why.Reason)) + " (" + why.SystemText + ")";
}

void Trace::NotOpened(const std::string& device, const platform::OpenError& why) const {
    if (!On()) return;
    Write("did not open " + device + ": " + OpenFailureText(why));
}

void Trace::AlreadyOpen() const { Write("did not open: the port is open in this process already"); }

void Trace::LineTrouble(const QueueStatus& status, bool purged) const {
    if (!On()) return;
    Write("line errors: " + ErrorsText(status) + (purged ? "; input purged" : ""));
}

void Trace::Withdrawn(std::string_view telegram, bool closing) const {
    if (!On()) return;
    Write(std::string(closing ? "message withdrawn as the port closes"
                              : "message withdrawn after " + std::to_string(kHandOffWaitMs) +
                                    " ms: the host did not take it and its entries") +
          "; telegram " + Quoted(telegram) + " not acknowledged");
}

void Trace::LogNotWritten(const std::string& whyNot) const {
    if (!On()) return;
    Write("log line not written: " + whyNot);
}

void Trace::Discarded(std::string_view telegram, const QueueStatus& status) const {
    if (!On()) return;
    Write("telegram " + Quoted(telegram) + " discarded for line errors (" + ErrorsText(status) +
          "): not handed over, not acknowledged");
}

void Trace::AckNotSent(const std::string& why) const {
    if (!On()) return;
    Write("ACK not sent: " + why);
}

void Trace::DeviceGone(const std::string& seen) const {
    if (!On()) return;
    Write("the device has gone away (" + seen + "); the port waits for it to come back");
}

void Trace::StillAway(const std::string& why, std::uint64_t awayMs, std::uint64_t tries, bool changed) const {
    if (!On()) return;
    Write(std::string(changed ? "the device does not open again: " : "the device is still away: ") + why + " (away " +
          std::to_string(awayMs / 1000) + " s, " + std::to_string(tries) + " tries)");
}

void Trace::DeviceBack(std::uint64_t awayMs, std::uint64_t tries) const {
    if (!On()) return;
    Write("the device is back: reopened after " + std::to_string(awayMs / 1000) + " s and " + std::to_string(tries) +
          (tries == 1 ? " try" : " tries") + "; input purged");
}

void Trace::Resumed(std::uint64_t sleptMs) const {
    if (!On()) return;
    Write("the system resumed after sleeping " + std::to_string(sleptMs / 1000) +
          " s: line checked, settings applied again");
}

void Trace::CloseLeftReader(std::uint64_t milliseconds) const {
    if (!On()) return;
    Write("closed in " + std::to_string(milliseconds) +
          " ms without waiting longer for the reader, which ends on its own; the port number is free once it has");
}

void Trace::Closed(std::uint64_t milliseconds) const {
    if (!On()) return;
    Write("closed in " + std::to_string(milliseconds) + " ms");
}

}  // namespace zentrok
