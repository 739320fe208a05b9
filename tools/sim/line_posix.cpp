// Lines on POSIX terminals. A pseudo-terminal is the one of tools/pty: it
// keeps its own descriptor of the slave open, so the line never hangs up
// between hosts and the slave's exclusive-use flag (which the driver sets
// when it opens the port) can be read to see that a host has arrived.
//
// A Windows host under Wine gets the terminal with a session of its own (see
// pty/pseudo_terminal.h), and Wine sets no exclusive-use flag; so a host is
// seen by the descriptors of the slave that other processes hold
// (/proc/<pid>/fd).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "platform/posix/baud_rates.h"
#include "platform/posix/port_names.h"
#include "pty/pseudo_terminal.h"
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

// Whether a process other than `self` and `holder` has `path` open.
bool OpenedElsewhere(const std::string& path, pid_t self, pid_t holder) {
    DIR* processes = opendir("/proc");
    if (!processes) return false;
    bool found = false;
    while (const dirent* process = readdir(processes)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(process->d_name));
        if (pid <= 0 || pid == self || pid == holder) continue;
        const std::string fdDir = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;
        while (const dirent* fd = readdir(fds)) {
            char target[PATH_MAX];
            const ssize_t size = readlink((fdDir + "/" + fd->d_name).c_str(), target, sizeof target - 1);
            if (size > 0 && path == std::string(target, static_cast<std::size_t>(size))) found = true;
            if (found) break;
        }
        closedir(fds);
        if (found) break;
    }
    closedir(processes);
    return found;
}

class PseudoTerminalLine : public Line {
public:
    explicit PseudoTerminalLine(std::unique_ptr<pty::PseudoTerminal> terminal) : terminal_(std::move(terminal)) {}

    bool Write(std::string_view bytes) override { return terminal_->Write(bytes); }
    std::string Read(int timeoutMs) override { return terminal_->Read(256, timeoutMs); }

    bool HostPresent() override {
        if (terminal_->SessionHolder() > 0)
            return OpenedElsewhere(terminal_->SlavePath(), getpid(), terminal_->SessionHolder());
        int exclusive = 0;
        return ioctl(terminal_->Slave(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    }

    bool SeesHost() const override { return true; }
    std::string Description() const override {
        return "pseudo-terminal " + terminal_->SlavePath() + " linked as " + terminal_->LinkPath();
    }

private:
    std::unique_ptr<pty::PseudoTerminal> terminal_;
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

}  // namespace

PortLink PortLinkFor(const std::string& dir, const std::string& winePrefix, int port) {
    if (!winePrefix.empty()) return {pty::WineLinkPath(winePrefix, port), true};
    return {platform::posix::PortLinkPath(dir, port), false};
}

std::unique_ptr<Line> OpenPseudoTerminal(const PortLink& portLink, std::string& error) {
    try {
        auto terminal = std::make_unique<pty::PseudoTerminal>();
        if (portLink.ForWine) terminal->HoldSession();
        terminal->LinkAs(portLink.Path);
        return std::make_unique<PseudoTerminalLine>(std::move(terminal));
    } catch (const std::exception& failure) {
        error = failure.what();
        return nullptr;
    }
}

std::unique_ptr<Line> OpenDevice(const std::string& path, unsigned baud, std::string& error) {
    speed_t speed;
    if (!platform::posix::SpeedFor(baud, speed)) {
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
