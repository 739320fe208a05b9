// The device double on a pseudo terminal of this process (tools/pty).
#include <termios.h>

#include <stdexcept>
#include <system_error>

#include "device_double.h"
#include "platform/posix/baud_rates.h"
#include "pty/pseudo_terminal.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSendWithinMs = 3000;

// The folder of COM<n> links, for the whole run of the test program.
const pty::PortFolder& Ports() {
    static const pty::PortFolder folder;
    return folder;
}

bool Has(tcflag_t flags, tcflag_t flag) { return (flags & flag) != 0; }

}  // namespace

struct DeviceDouble::Impl {
    std::unique_ptr<pty::PseudoTerminal> terminal;

    // A new terminal, linked as `link` in place of the one before.
    void Plug(std::string link) {
        auto fresh = std::make_unique<pty::PseudoTerminal>();
        fresh->LinkAs(link);
        terminal = std::move(fresh);
    }
};

DeviceDouble::DeviceDouble(std::int32_t portNumber) : portNumber_(portNumber), impl_(std::make_unique<Impl>()) {
    impl_->Plug(Ports().LinkPath(portNumber));
}

DeviceDouble::~DeviceDouble() = default;

void DeviceDouble::Send(std::string_view bytes) {
    pty::PseudoTerminal& line = *impl_->terminal;
    if (line.Master() >= 0 && !line.Write(bytes, kSendWithinMs))
        throw std::runtime_error("the line takes no more bytes");
}

std::string DeviceDouble::Receive(std::size_t count, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    std::string received;
    pty::PseudoTerminal& line = *impl_->terminal;
    while (received.size() < count && line.Master() >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const std::string got = line.Read(count - received.size(), left > 0 ? static_cast<int>(left) : 0);
        if (got.empty() && left <= 0) break;
        received += got;
    }
    return received;
}

LineState DeviceDouble::Line() const {
    termios attributes{};
    if (tcgetattr(impl_->terminal->Slave(), &attributes) != 0)
        throw std::system_error(errno, std::generic_category(), "tcgetattr");
    LineState line;
    const speed_t speed = cfgetospeed(&attributes);
    line.Baud = speed == cfgetispeed(&attributes) ? platform::posix::RateOf(speed) : 0;
    line.TwoStopBits = Has(attributes.c_cflag, CSTOPB);
    line.RtsCts = Has(attributes.c_cflag, CRTSCTS);
    line.XonXoffOut = Has(attributes.c_iflag, IXON);
    line.XonXoffIn = Has(attributes.c_iflag, IXOFF);
    return line;
}

void DeviceDouble::CloseMaster() { impl_->terminal->HangUp(); }

void DeviceDouble::Replug() {
    CloseMaster();
    impl_->Plug(impl_->terminal->LinkPath());
}

}  // namespace zentrok::test
