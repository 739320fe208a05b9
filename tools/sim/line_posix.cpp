// Lines on POSIX terminals. The pseudo-terminal keeps its own descriptor of
// the slave open, so the line never hangs up between hosts and the slave's
// exclusive-use flag (which the driver sets when it opens the port) can be
// read to see that a host has arrived.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "sim/line.h"

namespace zentrok::sim {
namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool MakeRaw(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string ReadSome(int fd, int timeoutMs) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, timeoutMs) <= 0 || !(wait.revents & POLLIN)) return {};
    char bytes[256];
    const ssize_t got = read(fd, bytes, sizeof bytes);
    return got > 0 ? std::string(bytes, static_cast<std::size_t>(got)) : std::string();
}

class PseudoTerminal : public Line {
public:
    PseudoTerminal(int master, int slave, std::string slavePath, std::string link)
        : master_(master), slave_(slave), slavePath_(std::move(slavePath)), link_(std::move(link)) {}

    ~PseudoTerminal() override {
        // Remove the link only while it still leads to this terminal.
        char target[PATH_MAX];
        const ssize_t size = readlink(link_.c_str(), target, sizeof target - 1);
        if (size > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(size))) unlink(link_.c_str());
        close(slave_);
        close(master_);
    }

    bool Write(std::string_view bytes) override { return WriteAll(master_, bytes); }
    std::string Read(int timeoutMs) override { return ReadSome(master_, timeoutMs); }

    bool HostPresent() override {
        int exclusive = 0;
        return ioctl(slave_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    }

    bool SeesHost() const override { return true; }
    std::string Description() const override { return "pseudo-terminal " + slavePath_ + " linked as " + link_; }

private:
    int master_;
    int slave_;
    std::string slavePath_;
    std::string link_;
};

class Device : public Line {
public:
    Device(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~Device() override { close(fd_); }

    bool Write(std::string_view bytes) override { return WriteAll(fd_, bytes); }
    std::string Read(int timeoutMs) override { return ReadSome(fd_, timeoutMs); }

    // The driver raises DTR, which a null-modem cable shows here as DSR.
    bool HostPresent() override {
        int lines = 0;
        return ioctl(fd_, TIOCMGET, &lines) == 0 && (lines & TIOCM_DSR) != 0;
    }

    bool SeesHost() const override { return false; }
    std::string Description() const override { return "device " + path_; }

private:
    int fd_;
    std::string path_;
};

bool SpeedFor(unsigned baud, speed_t& speed) {
    static constexpr struct {
        unsigned rate;
        speed_t code;
    } kSpeeds[] = {{300, B300},     {600, B600},     {1200, B1200},     {2400, B2400},    {4800, B4800},
                   {9600, B9600},   {19200, B19200}, {38400, B38400},   {57600, B57600},  {115200, B115200}};
    for (const auto& entry : kSpeeds) {
        if (entry.rate == baud) {
            speed = entry.code;
            return true;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<Line> OpenPseudoTerminal(const std::string& dir, int port, std::string& error) {
    const std::string link = dir + "/COM" + std::to_string(port);
    struct stat existing {};
    if (lstat(link.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = link + " exists and is not a link; it is left alone";
        return nullptr;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = SystemError("cannot create a pseudo-terminal");
        if (master >= 0) close(master);
        return nullptr;
    }
    const std::string slavePath = ptsname(master);
    const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !MakeRaw(slave, B9600)) {
        error = SystemError("cannot set up " + slavePath);
        if (slave >= 0) close(slave);
        close(master);
        return nullptr;
    }
    unlink(link.c_str());  // a link left behind by an earlier run
    if (symlink(slavePath.c_str(), link.c_str()) != 0) {
        error = SystemError("cannot create " + link);
        close(slave);
        close(master);
        return nullptr;
    }
    return std::make_unique<PseudoTerminal>(master, slave, slavePath, link);
}

std::unique_ptr<Line> OpenDevice(const std::string& path, unsigned baud, std::string& error) {
    speed_t speed;
    if (!SpeedFor(baud, speed)) {
        error = "unsupported baud rate " + std::to_string(baud);
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError("cannot open " + path);
        return nullptr;
    }
    if (isatty(fd)) {
        if (!MakeRaw(fd, speed)) {
            error = SystemError("cannot set up " + path);
            close(fd);
            return nullptr;
        }
        int dtr = TIOCM_DTR;
        ioctl(fd, TIOCMBIS, &dtr);  // lines without modem control refuse this
    }
    return std::make_unique<Device>(fd, path);
}

}  // namespace zentrok::sim
