// The simulator's end of a serial line: a pseudo-terminal it creates, or an
// existing port. Implemented once per platform (line_posix.cpp, line_win32.cpp).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zentrok::sim {

class Line {
public:
    virtual ~Line() = default;

    // Writes all bytes; false when the line refused them.
    virtual bool Write(std::string_view bytes) = 0;

    // Bytes that arrive within `timeoutMs` (returns once some are there);
    // empty on a time-out.
    virtual std::string Read(int timeoutMs) = 0;

    // Whether a host has the port open, as far as this end can see it.
    virtual bool HostPresent() = 0;

    // True when HostPresent is certain (a pseudo-terminal); on a real line it
    // relies on the modem lines, which a cable may not carry.
    virtual bool SeesHost() const = 0;

    // What the user is told about the line.
    virtual std::string Description() const = 0;
};

// Where a pseudo-terminal is linked for a host to open it as COM<n>.
struct PortLink {
    std::string Path;      // DIR/COM<n> for the driver's ZENTROK_PORT_DIR, or PREFIX/dosdevices/com<n>
    bool ForWine = false;  // a Windows host under Wine opens it (see line_posix.cpp)
};

// The link for port `port`: in `dir`, or in the Wine prefix `winePrefix`.
PortLink PortLinkFor(const std::string& dir, const std::string& winePrefix, int port);

// Creates a pseudo-terminal and links it as `link` says. Null with `error`
// set when that is not possible.
std::unique_ptr<Line> OpenPseudoTerminal(const PortLink& link, std::string& error);

// Opens an existing port at `baud`, 8 data bits, no parity, one stop bit.
std::unique_ptr<Line> OpenDevice(const std::string& path, unsigned baud, std::string& error);

}  // namespace zentrok::sim
