// The trace: an account of what happened on a port, for a person finding
// out why telegrams do not arrive. It is off unless the host's environment
// names a file in ZENTROK_TRACE when a port opens; each event then appends
// one line "<local date and time> COM<n> <what happened>" to that file.
//
// The driver reports no failure to its host, and the telegram log holds
// telegrams only; the trace is where the reasons go. It never changes what
// the driver does: while it is off every call returns at once, without a
// system call, and a trace file that cannot be opened or written is given
// up on silently for that line. Ports of one process write whole lines,
// one at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/framed_port.h"
#include "link/line_settings.h"
#include "platform/platform.h"

namespace zentrok {

inline constexpr char kTraceVariable[] = "ZENTROK_TRACE";

// One sentence per Rn.ini value that the line does not take as written: a
// value its key has no meaning for, with what `held` has for that key
// ("FlowCtrl=9: out of range (0 to 2); it stays at no flow control"), and a
// value that is no number or one outside 32 bits, with the default the key
// takes ("default Baud=300: not a number: \"9600 ; bits per second\""). The
// trace writes them when a port opens; zentrok-monitor says them too.
std::vector<std::string> ValueNotes(const PortSetupReport& report, const platform::LineSettings& held);

class Trace {
public:
    Trace() = default;  // off
    // The trace of port `port`: on when ZENTROK_TRACE names a file.
    static Trace ForPort(std::int32_t port);

    bool On() const { return !path_.empty(); }

    void Opened(const std::string& device, std::int32_t recNumber, const platform::LineSettings& asked,
                const platform::ConfigureResult& configured) const;
    void NotOpened(const std::string& device, const platform::OpenError& why) const;
    // The port number is open in this process already, so the device is not tried.
    void AlreadyOpen() const;
    void LineTrouble(const QueueStatus& status, bool purged) const;
    void Withdrawn(std::string_view telegram, bool closing) const;
    void LogNotWritten(const std::string& whyNot) const;
    // A telegram whose bytes came with line errors: not handed over, not
    // acknowledged, so that the device sends it again.
    void Discarded(std::string_view telegram, const QueueStatus& status) const;
    void AckNotSent(const std::string& why) const;
    void DeviceGone(const std::string& seen) const;
    // A try to open the device again failed; `changed`: for another reason
    // than the try before, else a summary now and then.
    void StillAway(const std::string& why, std::uint64_t awayMs, std::uint64_t tries, bool changed) const;
    void DeviceBack(std::uint64_t awayMs, std::uint64_t tries) const;
    void Resumed(std::uint64_t sleptMs) const;
    void Closed(std::uint64_t milliseconds) const;
    // The close returned while the reader had not ended yet.
    void CloseLeftReader(std::uint64_t milliseconds) const;

    // "missing (<the system's words>)", and so on.
    static std::string OpenFailureText(const platform::OpenError& why);

    // Appends one line for this port; nothing when off.
    void Write(const std::string& text) const;

private:
    std::string path_;
    std::int32_t port_ = 0;
};

}  // namespace zentrok
