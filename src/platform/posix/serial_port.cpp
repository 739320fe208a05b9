// Serial ports on a POSIX terminal device, the one port_names.h names for
// the port's number. The device is opened non-blocking: the reader sleeps in poll() until bytes arrive, and ACK bytes
// the device cannot take at once are kept and sent when it can.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/baud_rates.h"
#include "platform/posix/port_names.h"

namespace zentrok::platform {
namespace {

using posix::RateOf;
using posix::SpeedFor;

constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};

std::string SystemError(const char* call, int error) { return std::string(call) + ": " + std::strerror(error); }

void AddFailure(std::string& failures, const std::string& failure) {
    failures += (failures.empty() ? "" : "; ") + failure;
}

OpenFailure FailureOf(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR: return OpenFailure::Missing;
        case EBUSY:
        case EWOULDBLOCK: return OpenFailure::InUse;
        case EACCES:
        case EPERM:
        case EROFS: return OpenFailure::AccessDenied;
        case ENOTTY: return OpenFailure::NotATerminal;
        default: return OpenFailure::Other;
    }
}

void Tell(OpenError* why, int error) {
    if (!why) return;
    why->Reason = FailureOf(error);
    why->SystemCode = static_cast<std::uint32_t>(error);
    why->SystemText = std::strerror(error);
}

// The line as a terminal holds it, in the driver's terms. A terminal has no
// event character and keeps the binary mode and DTR as configured, so those
// are taken from what was asked.
LineSettings ReadLine(const termios& tio, const LineSettings& asked) {
    LineSettings line = asked;
    line.BaudRate = cfgetospeed(&tio) == cfgetispeed(&tio) ? RateOf(cfgetospeed(&tio)) : 0;
    for (std::uint8_t bits = 5; bits <= 8; ++bits)
        if ((tio.c_cflag & CSIZE) == kSizes[bits - 5]) line.ByteSize = bits;
    for (std::uint8_t parity = 0; parity < 5; ++parity)
        if ((tio.c_cflag & kParityBits) == kParity[parity]) line.Parity = parity;
    line.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    line.Flags = asked.Flags & (flags::kBinary | flags::kDtrControlEnable);
    if (tio.c_iflag & IXON) line.Flags |= flags::kOutX;
    if (tio.c_iflag & IXOFF) line.Flags |= flags::kInX;
    if (tio.c_cflag & CRTSCTS) line.Flags |= flags::kOutxCtsFlow | (asked.Flags & flags::kRtsControlHandshake);
    return line;
}

// Maps the line settings onto a raw-mode termios; settings the device cannot
// express keep their current value.
void ApplyLine(termios& tio, const LineSettings& line) {
    cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    if (speed_t speed; SpeedFor(line.BaudRate, speed)) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    if (line.ByteSize >= 5 && line.ByteSize <= 8) tio.c_cflag = (tio.c_cflag & ~CSIZE) | kSizes[line.ByteSize - 5];

    if (line.Parity <= 4) tio.c_cflag = (tio.c_cflag & ~kParityBits) | kParity[line.Parity];
    if (line.StopBits == 0) tio.c_cflag &= ~CSTOPB;
    if (line.StopBits == 1 || line.StopBits == 2) tio.c_cflag |= CSTOPB;  // no 1.5: the nearest is two

    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (line.Flags & flags::kOutX) tio.c_iflag |= IXON;
    if (line.Flags & flags::kInX) tio.c_iflag |= IXOFF;
    if (line.Flags & (flags::kOutxCtsFlow | flags::kRtsControlHandshake))
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;
}

}  // namespace

struct SerialPort::Impl {
    int fd = -1;
    bool deviceOpen = true;  // false once the device has gone away
    std::string output;      // ACK bytes the device could not take at once
    // The driver's error counters at the last TakeLineErrors.
    serial_icounter_struct counts{};
    bool countsKnown = false;
    bool noCounters = false;  // the device keeps none: not asked again

    ~Impl() {
        ioctl(fd, TIOCNXCL);  // the flag outlives the descriptor: let the next opener in
        close(fd);
    }

    // Sends what the device takes of the waiting output.
    void Flush() {
        while (!output.empty()) {
            const ssize_t written = write(fd, output.data(), output.size());
            if (written > 0)
                output.erase(0, static_cast<std::size_t>(written));
            else if (written < 0 && errno == EINTR)
                continue;
            else if (written < 0 && errno == EAGAIN)
                return;
            else
                output.clear();  // the device is gone
        }
    }
};

std::string SerialPort::DeviceName(std::int32_t number) { return posix::PortDevicePath(number); }

std::unique_ptr<SerialPort> SerialPort::Open(std::int32_t number, OpenError* why) {
    const std::string path = DeviceName(number);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Tell(why, errno);
        return nullptr;
    }
    // Exclusive: a second open of the device, from any process, fails.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        Tell(why, errno == EWOULDBLOCK || errno == EBUSY ? EBUSY : errno);
        close(fd);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->fd = fd;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SerialPort::~SerialPort() = default;

ConfigureResult SerialPort::Configure(const PortSetup& setup) {
    ConfigureResult result;
    termios tio{};
    if (tcgetattr(impl_->fd, &tio) != 0) {
        AddFailure(result.FailedCalls, SystemError("tcgetattr", errno));
    } else {
        ApplyLine(tio, setup.Line);
        if (tcsetattr(impl_->fd, TCSANOW, &tio) != 0) AddFailure(result.FailedCalls, SystemError("tcsetattr", errno));
    }
    // DTR on; RTS off unless the RTS/CTS handshake drives it. A pseudo
    // terminal has no modem lines and refuses this, which is harmless and
    // not reported.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    ioctl(impl_->fd, TIOCMBIS, &dtr);
    if (!(setup.Line.Flags & flags::kRtsControlHandshake)) ioctl(impl_->fd, TIOCMBIC, &rts);

    termios now{};
    result.ReadBack = tcgetattr(impl_->fd, &now) == 0;
    if (result.ReadBack) result.Reported = ReadLine(now, setup.Line);
    return result;
}

// Once the device has gone away (a hung-up line keeps reporting POLLHUP)
// only the stop is watched, so the wait sleeps out its time-out.
SerialPort::Wake SerialPort::WaitForInput(Event& stop, std::uint32_t timeoutMs) {
    Impl& port = *impl_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{static_cast<int>(stop.Native()), POLLIN, 0},
                         {port.fd, static_cast<short>(POLLIN | (port.output.empty() ? 0 : POLLOUT)), 0}};
        const int ready = poll(fds, port.deviceOpen ? 2 : 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {  // a wait that fails still takes its time: the caller never spins
            std::this_thread::sleep_for(left);
            return Wake::TimedOut;
        }
        if (fds[0].revents & POLLIN) return Wake::Stop;
        if (fds[1].revents & POLLIN) return Wake::Input;
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) port.deviceOpen = false;
        if (fds[1].revents & POLLOUT) port.Flush();
        if (ready == 0) return Wake::TimedOut;
    }
}

std::size_t SerialPort::TakeArrived(char* dest, std::size_t size) {
    Impl& port = *impl_;
    while (port.deviceOpen) {
        const ssize_t got = read(port.fd, dest, size);
        if (got > 0) return static_cast<std::size_t>(got);
        if (got < 0 && errno == EINTR) continue;
        // 0 or an error other than "nothing yet": the device went away (a
        // closed pty master reads as EIO).
        if (got == 0 || errno != EAGAIN) port.deviceOpen = false;
        break;
    }
    return 0;
}

void SerialPort::DiscardInput() { tcflush(impl_->fd, TCIFLUSH); }

void SerialPort::WriteByte(char byte) {
    impl_->output.push_back(byte);
    impl_->Flush();
}

// A UART driver counts the errors it saw (TIOCGICOUNT); a pseudo terminal
// keeps no counters, and then no errors are reported. The first call only
// learns where the counters stand.
LineErrors SerialPort::TakeLineErrors() {
    Impl& port = *impl_;
    serial_icounter_struct now{};
    if (port.noCounters) return {};
    if (ioctl(port.fd, TIOCGICOUNT, &now) != 0) {
        // A device without counters (a pseudo terminal) says so for good; a
        // passing failure is asked again next time.
        port.noCounters = errno == ENOTTY || errno == EINVAL;
        return {};
    }
    const serial_icounter_struct last = port.counts;
    const bool known = port.countsKnown;
    port.counts = now;
    port.countsKnown = true;
    if (!known) return {};
    LineErrors errors;
    errors.Overrun = now.overrun != last.overrun;
    errors.QueueOverflow = now.buf_overrun != last.buf_overrun;
    errors.Framing = now.frame != last.frame;
    errors.Parity = now.parity != last.parity;
    errors.Break = now.brk != last.brk;
    return errors;
}

bool SerialPort::DeviceGone() { return !impl_->deviceOpen; }

}  // namespace zentrok::platform
