// Serial ports on a POSIX terminal device, the one port_names.h names for
// the port's number. The device is opened non-blocking: the reader sleeps in
// poll() until bytes arrive, and ACK bytes the device cannot take at once
// are kept and sent when it can.
//
// A device that has gone (a pulled USB adapter, a hung-up terminal) reports
// a hang-up to poll() and EIO, ENXIO or ENODEV to read() and write() from
// then on; the handle never works again, so the port says it is gone and
// the link opens the device anew. Any other failure is taken as passing: the
// read is tried again at once, then after a pause that doubles up to
// kMaxRetryPauseMs.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/fault_seam.h"
#include "platform/platform.h"
#include "platform/posix/baud_rates.h"
#include "platform/posix/port_names.h"

namespace zentrok::platform {
namespace {

using posix::RateOf;
using posix::SpeedFor;
using Clock = std::chrono::steady_clock;

constexpr int kMaxRetryPauseMs = 500;

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
    std::string goneBecause;  // set once the device has gone away
    std::string output;       // ACK bytes the device could not take at once
    // After a passing read failure: when to read again, and the next pause.
    Clock::time_point retryAt{};
    int retryPauseMs = 0;
    // The driver's error counters at the last TakeLineErrors.
    serial_icounter_struct counts{};
    bool countsKnown = false;
    bool noCounters = false;  // the device keeps none: not asked again

    ~Impl() {
        ioctl(fd, TIOCNXCL);  // the flag outlives the descriptor: let the next opener in
        close(fd);
    }

    bool Gone() const { return !goneBecause.empty(); }

    // Records a failed call: the device's going, or a passing failure.
    void Failed(const char* call, int error) {
        if (error == EIO || error == ENXIO || error == ENODEV) {
            if (!Gone()) goneBecause = SystemError(call, error);
            output.clear();
            return;
        }
        retryAt = Clock::now() + std::chrono::milliseconds(retryPauseMs);
        retryPauseMs = retryPauseMs == 0 ? 10 : std::min(retryPauseMs * 2, kMaxRetryPauseMs);
    }

    // Sends what the device takes of the waiting output; false with `error`
    // set when the device refused it.
    bool Flush(int& error) {
        while (!output.empty() && !Gone()) {
            const std::uint32_t injected = fault_seam::TakeFailure(fault_seam::Call::Write);
            const ssize_t written = injected ? -1 : write(fd, output.data(), output.size());
            if (injected) errno = static_cast<int>(injected);
            if (written > 0) {
                output.erase(0, static_cast<std::size_t>(written));
            } else if (written < 0 && errno == EINTR) {
                continue;
            } else if (written < 0 && errno == EAGAIN) {
                return true;
            } else {
                error = written < 0 ? errno : EIO;
                output.clear();
                Failed("write", error);
                return false;
            }
        }
        return true;
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

// A hang-up stays reported, so it is the device's going, not a wake-up.
SerialPort::Wake SerialPort::WaitForInput(Event& stop, std::uint32_t timeoutMs) {
    Impl& port = *impl_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (port.Gone()) return stop.Wait(0) ? Wake::Stop : Wake::Gone;
        // A read that failed in passing is tried again once its pause is over.
        const auto now = Clock::now();
        const bool retrying = port.retryAt > now;
        const auto until = retrying ? std::min(deadline, port.retryAt) : deadline;
        const auto left =
            std::max(std::chrono::duration_cast<std::chrono::milliseconds>(until - now), std::chrono::milliseconds(0));
        pollfd fds[2] = {{static_cast<int>(stop.Native()), POLLIN, 0},
                         {port.fd, static_cast<short>(POLLIN | (port.output.empty() ? 0 : POLLOUT)), 0}};
        const int ready = poll(fds, retrying ? 1 : 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {  // a wait that fails still takes its time: the caller never spins
            std::this_thread::sleep_for(left);
            return Wake::TimedOut;
        }
        if (fds[0].revents & POLLIN) return Wake::Stop;
        if (!retrying && (fds[1].revents & POLLIN)) return Wake::Input;
        if (!retrying && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) && !port.Gone())
            port.goneBecause = "poll: the line was hung up";
        int error = 0;
        if (!retrying && (fds[1].revents & POLLOUT)) port.Flush(error);
        if (Clock::now() >= deadline) return Wake::TimedOut;
        if (retrying && Clock::now() >= port.retryAt) return Wake::Input;  // the caller reads again
    }
}

std::size_t SerialPort::TakeArrived(char* dest, std::size_t size) {
    Impl& port = *impl_;
    while (!port.Gone() && Clock::now() >= port.retryAt) {
        const std::uint32_t injected = fault_seam::TakeFailure(fault_seam::Call::Read);
        const ssize_t got = injected ? -1 : read(port.fd, dest, size);
        if (injected) errno = static_cast<int>(injected);
        if (got > 0) {
            port.retryPauseMs = 0;
            return static_cast<std::size_t>(got);
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) break;
        // End of file: the other side of the terminal has hung up.
        port.Failed("read", got == 0 ? EIO : errno);
        break;
    }
    return 0;
}

void SerialPort::DiscardInput() { tcflush(impl_->fd, TCIFLUSH); }

SerialPort::WriteOutcome SerialPort::WriteByte(char byte, std::string* whyNot) {
    Impl& port = *impl_;
    int error = 0;
    if (!port.Gone()) {
        port.output.push_back(byte);
        if (port.Flush(error)) return WriteOutcome::Queued;
    }
    if (whyNot) *whyNot = port.Gone() ? port.goneBecause : SystemError("write", error);
    return WriteOutcome::Failed;
}

// A UART driver counts the errors it saw (TIOCGICOUNT); a pseudo terminal
// keeps no counters, and then no errors are reported. The first call only
// learns where the counters stand.
LineErrors SerialPort::TakeLineErrors() {
    Impl& port = *impl_;
    LineErrors errors = fault_seam::TakeLineErrors();
    serial_icounter_struct now{};
    if (port.noCounters) return errors;
    if (ioctl(port.fd, TIOCGICOUNT, &now) != 0) {
        // A device without counters (a pseudo terminal) says so for good; a
        // passing failure is asked again next time.
        port.noCounters = errno == ENOTTY || errno == EINVAL;
        return errors;
    }
    const serial_icounter_struct last = port.counts;
    const bool known = port.countsKnown;
    port.counts = now;
    port.countsKnown = true;
    if (!known) return errors;
    errors.Overrun |= now.overrun != last.overrun;
    errors.QueueOverflow |= now.buf_overrun != last.buf_overrun;
    errors.Framing |= now.frame != last.frame;
    errors.Parity |= now.parity != last.parity;
    errors.Break |= now.brk != last.brk;
    return errors;
}

// A terminal whose device has gone fails tcgetattr with EIO at once.
bool SerialPort::DeviceGone(std::string* seen) {
    Impl& port = *impl_;
    termios tio{};
    if (!port.Gone() && tcgetattr(port.fd, &tio) != 0) port.Failed("tcgetattr", errno);
    if (seen) *seen = port.goneBecause;
    return port.Gone();
}

}  // namespace zentrok::platform
