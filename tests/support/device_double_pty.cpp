// The device double on a pseudo terminal of this process.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "device_double.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The temporary folder of COM<n> links, removed when the process ends.
struct PortFolderOwner {
    std::string path;
    PortFolderOwner() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zentrok-ports-XXXXXX").string();
        if (!mkdtemp(pattern.data())) Fail("mkdtemp");
        path = pattern;
        setenv("ZENTROK_PORT_DIR", path.c_str(), 1);
    }
    ~PortFolderOwner() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const std::string& PortFolder() {
    static const PortFolderOwner folder;
    return folder.path;
}

bool Has(tcflag_t flags, tcflag_t flag) { return (flags & flag) != 0; }

std::uint32_t BaudOf(speed_t speed) {
    static constexpr std::pair<speed_t, std::uint32_t> kRates[] = {
        {B50, 50},     {B75, 75},       {B110, 110},     {B134, 134},     {B150, 150},       {B200, 200},
        {B300, 300},   {B600, 600},     {B1200, 1200},   {B1800, 1800},   {B2400, 2400},     {B4800, 4800},
        {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    for (const auto& [code, rate] : kRates)
        if (code == speed) return rate;
    return 0;
}

}  // namespace

struct DeviceDouble::Impl {
    int master = -1;
    int slave = -1;  // kept open so the line keeps its settings between opens
    std::string linkPath;
};

namespace {

// Makes a raw pseudo terminal for `terminal` and links its slave as
// `linkPath`, in place of whatever link was there.
void OpenTerminal(DeviceDouble::Impl& terminal, const std::string& linkPath) {
    int& master = terminal.master;
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Fail("posix_openpt");
    const std::string slavePath = ptsname(master);
    int& slave = terminal.slave;
    slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) Fail("open slave");
    // Raw from the start: nothing sent before the driver configures the line
    // is echoed back or held for a line end.
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    std::filesystem::remove(linkPath);
    std::filesystem::create_symlink(slavePath, linkPath);
}

}  // namespace

DeviceDouble::DeviceDouble(std::int32_t portNumber) : portNumber_(portNumber), impl_(std::make_unique<Impl>()) {
    impl_->linkPath = PortFolder() + "/COM" + std::to_string(portNumber);
    OpenTerminal(*impl_, impl_->linkPath);
}

DeviceDouble::~DeviceDouble() {
    std::error_code ignored;
    std::filesystem::remove(impl_->linkPath, ignored);
    CloseMaster();
    close(impl_->slave);
}

void DeviceDouble::Send(std::string_view bytes) {
    const int master = impl_->master;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!bytes.empty()) {
        const ssize_t written = write(master, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) Fail("write to line");
        if (Clock::now() >= deadline) throw std::runtime_error("the line takes no more bytes");
        pollfd fd{master, POLLOUT, 0};
        poll(&fd, 1, MillisecondsLeft(deadline));
    }
}

std::string DeviceDouble::Receive(std::size_t count, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    std::string received;
    const int master = impl_->master;
    while (received.size() < count && master >= 0) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) {
            if (Clock::now() >= deadline) break;
            continue;
        }
        char bytes[256];
        const std::size_t wanted = std::min(sizeof bytes, count - received.size());
        const ssize_t got = read(master, bytes, wanted);
        if (got > 0) {
            received.append(bytes, static_cast<std::size_t>(got));
        } else if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            break;  // the line was hung up
        }
    }
    return received;
}

LineState DeviceDouble::Line() const {
    termios attributes{};
    if (tcgetattr(impl_->slave, &attributes) != 0) Fail("tcgetattr");
    LineState line;
    line.Baud = cfgetospeed(&attributes) == cfgetispeed(&attributes) ? BaudOf(cfgetospeed(&attributes)) : 0;
    line.TwoStopBits = Has(attributes.c_cflag, CSTOPB);
    line.RtsCts = Has(attributes.c_cflag, CRTSCTS);
    line.XonXoffOut = Has(attributes.c_iflag, IXON);
    line.XonXoffIn = Has(attributes.c_iflag, IXOFF);
    return line;
}

void DeviceDouble::CloseMaster() {
    if (impl_->master < 0) return;
    close(impl_->master);
    impl_->master = -1;
}

void DeviceDouble::Replug() {
    CloseMaster();
    close(impl_->slave);
    OpenTerminal(*impl_, impl_->linkPath);
}

}  // namespace zentrok::test
