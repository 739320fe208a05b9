// Serial ports on a POSIX terminal device. Port n is $ZENTROK_PORT_DIR/COM<n>
// when that variable is set, otherwise /dev/ttyS<n-1>.
//
// Like a Windows serial driver, the port keeps an input queue of its own,
// reports when it overflowed, and lets the arrival of the event character
// complete an armed wait. The queue is fed from the device whenever the port
// is used: the reader's wait polls the device, and every query of the queue
// first takes in what has arrived. So the reader wakes for arriving bytes
// and for the stop, and for nothing else.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

// Capacity of the port's input queue; beyond it bytes are lost and the
// overflow is reported by the next ClearErrors.
constexpr std::size_t kInputCapacity = 4096;

std::string DevicePath(std::int32_t number) {
    if (const char* dir = std::getenv("ZENTROK_PORT_DIR"); dir && *dir)
        return std::string(dir) + "/COM" + std::to_string(number);
    return "/dev/ttyS" + std::to_string(static_cast<std::int64_t>(number) - 1);
}

bool SpeedFor(std::uint32_t baud, speed_t& speed) {
    static constexpr std::pair<std::uint32_t, speed_t> kSpeeds[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto& [rate, code] : kSpeeds) {
        if (rate == baud) {
            speed = code;
            return true;
        }
    }
    return false;
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
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (line.ByteSize >= 5 && line.ByteSize <= 8) tio.c_cflag = (tio.c_cflag & ~CSIZE) | kSizes[line.ByteSize - 5];

    if (line.Parity <= 4) {
        static constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
        tio.c_cflag = (tio.c_cflag & ~(PARENB | PARODD | CMSPAR)) | kParity[line.Parity];
    }
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

int PollTimeout(std::uint32_t timeoutMs, std::chrono::steady_clock::time_point deadline) {
    if (timeoutMs == kInfinite) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

struct SerialPort::Impl {
    int fd = -1;
    bool deviceOpen = true;  // false once the device has gone away
    std::array<char, kInputCapacity> input{};
    std::size_t head = 0;  // oldest queued byte
    std::size_t count = 0;
    bool overflow = false;
    bool watching = false;      // the event character completes waits
    char eventChar = 0;
    bool eventPending = false;  // the event character arrived since the last completed wait
    bool armed = false;
    std::string output;  // ACK bytes the device could not take at once

    ~Impl() {
        ioctl(fd, TIOCNXCL);  // the flag outlives the descriptor: let the next opener in
        close(fd);
    }

    void Queue(const char* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            if (count < input.size())
                input[(head + count++) % input.size()] = bytes[i];
            else
                overflow = true;
            if (watching && bytes[i] == eventChar) eventPending = true;
        }
    }

    // Takes in everything the device has delivered so far.
    void TakeIn() {
        while (deviceOpen) {
            char bytes[1024];
            const ssize_t got = read(fd, bytes, sizeof bytes);
            if (got > 0) {
                Queue(bytes, static_cast<std::size_t>(got));
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                // 0 or an error other than "nothing yet": the device went away
                // (a closed pty master reads as EIO). Waits then only time out.
                if (got == 0 || errno != EAGAIN) deviceOpen = false;
                return;
            }
        }
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

    bool CompleteWait() {
        if (!armed || !eventPending) return false;
        armed = false;
        eventPending = false;
        return true;
    }
};

std::unique_ptr<SerialPort> SerialPort::Open(std::int32_t number) {
    const std::string path = DevicePath(number);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Exclusive: a second open of the device, from any process, fails.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        close(fd);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->fd = fd;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SerialPort::~SerialPort() = default;

void SerialPort::Configure(const PortSetup& setup) {
    termios tio{};
    if (tcgetattr(impl_->fd, &tio) == 0) {
        ApplyLine(tio, setup.Line);
        tcsetattr(impl_->fd, TCSANOW, &tio);
    }
    // DTR on; RTS off unless the RTS/CTS handshake drives it. A pseudo
    // terminal has no modem lines and refuses this, which is harmless.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    ioctl(impl_->fd, TIOCMBIS, &dtr);
    if (!(setup.Line.Flags & flags::kRtsControlHandshake)) ioctl(impl_->fd, TIOCMBIC, &rts);
    impl_->eventChar = setup.Line.EvtChar;
}

void SerialPort::WatchEventCharacter() { impl_->watching = true; }

void SerialPort::ArmEventWait() { impl_->armed = true; }

SerialPort::Wake SerialPort::WaitForEventOr(Event& stop, std::uint32_t timeoutMs) {
    Impl& port = *impl_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        port.TakeIn();
        const bool completed = port.CompleteWait();
        pollfd fds[2] = {{static_cast<int>(stop.Native()), POLLIN, 0},
                         {port.fd, static_cast<short>(POLLIN | (port.output.empty() ? 0 : POLLOUT)), 0}};
        const int ready = poll(fds, port.deviceOpen ? 2 : 1, completed ? 0 : PollTimeout(timeoutMs, deadline));
        if (ready < 0 && errno != EINTR) return Wake::TimedOut;
        if (fds[0].revents & POLLIN) return Wake::Stop;
        if (completed) return Wake::EventCharacter;
        if (fds[1].revents & POLLOUT) port.Flush();
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL) && !(fds[1].revents & POLLIN)) port.deviceOpen = false;
        // Bytes without an end character do not extend the wait.
        if (ready == 0 || (timeoutMs != kInfinite && std::chrono::steady_clock::now() >= deadline))
            return Wake::TimedOut;
    }
}

QueueStatus SerialPort::ClearErrors() {
    impl_->TakeIn();
    QueueStatus status;
    status.Errors = impl_->overflow ? kInputOverflow : 0;
    status.InQueue = static_cast<std::uint32_t>(impl_->count);
    impl_->overflow = false;
    return status;
}

void SerialPort::Read(char* dest, std::uint32_t count) {
    Impl& port = *impl_;
    const std::size_t available = count < port.count ? count : port.count;
    for (std::size_t i = 0; i < available; ++i) dest[i] = port.input[(port.head + i) % port.input.size()];
    std::memset(dest + available, 0, count - available);
    port.head = (port.head + available) % port.input.size();
    port.count -= available;
}

void SerialPort::PurgeInput() {
    impl_->TakeIn();
    impl_->head = 0;
    impl_->count = 0;
}

void SerialPort::WriteByte(char byte) {
    impl_->output.push_back(byte);
    impl_->Flush();
}

}  // namespace zentrok::platform
