// The device end of a serial line on a POSIX system: a pseudo terminal whose
// slave a host opens as a port, through a link named as the port, and whose
// master plays the device. The simulator, the tests' device double and the
// link benchmarks all make their lines with it.
//
// The terminal keeps a descriptor of its own slave open, so the line keeps
// its settings between a host's opens and hangs up only when the device does
// (HangUp). It starts raw at 9600 baud: nothing sent before a host sets the
// line up is echoed back or held for a line end.
//
// A Windows host under Wine needs one thing more: the wineserver opens the
// device for it and, having no controlling terminal, would take the slave as
// its own and get the hang-up when the terminal closes (it then writes its
// state into the host's stderr, thousands of lines). HoldSession gives the
// slave to a child process as the controlling terminal of a session of its
// own. (Windows test programs cannot make a terminal on the Linux side at
// all; tests/support/device_relay.py makes theirs.)
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace zentrok::pty {

class PseudoTerminal {
public:
    // Throws std::system_error when no terminal can be made.
    PseudoTerminal();
    // Closes both ends, and removes the link while it still leads here.
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The device's end, non-blocking; -1 once hung up.
    int Master() const { return master_; }
    // The terminal's own descriptor of the host's end, blocking.
    int Slave() const { return slave_; }
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& LinkPath() const { return link_; }

    // Links `path` to the slave, in place of a link left there (by an earlier
    // run, or an earlier terminal of the port). Throws std::system_error when
    // that fails, and std::runtime_error when `path` is not a link: it is left
    // alone.
    void LinkAs(const std::string& path);

    // Gives the slave a session of its own (see above); throws
    // std::runtime_error when that fails.
    void HoldSession();
    // The process holding that session, or -1.
    pid_t SessionHolder() const { return holder_; }

    // Writes all of `bytes` on the line; false when the line is hung up,
    // refuses them, or has not taken them within `timeoutMs` (-1: no bound).
    bool Write(std::string_view bytes, int timeoutMs = -1);
    // At most `most` of the bytes the host sent, as soon as there are some;
    // empty when none came within `timeoutMs` (-1: no bound) or the line is
    // hung up.
    std::string Read(std::size_t most, int timeoutMs);

    // Closes the device's end: the host sees the device go away.
    void HangUp();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string link_;
    pid_t holder_ = -1;
    int holderAlive_ = -1;  // the holder ends when this closes
};

// A temporary folder of COM<n> links, which the driver of this process opens
// the ports in: $ZENTROK_PORT_DIR names it from construction on. Removed with
// its links on destruction.
class PortFolder {
public:
    PortFolder();
    ~PortFolder();
    PortFolder(const PortFolder&) = delete;
    PortFolder& operator=(const PortFolder&) = delete;

    // Where port `port`'s link goes.
    std::string LinkPath(int port) const;

private:
    std::string path_;
};

// Where a Wine prefix has port COM<port>.
std::string WineLinkPath(const std::string& prefix, int port);

}  // namespace zentrok::pty
