// Lines on POSIX terminals. The pseudo-terminal keeps its own descriptor of
// the slave open, so the line never hangs up between hosts and the slave's
// exclusive-use flag (which the driver sets when it opens the port) can be
// read to see that a host has arrived.
//
// A Windows host under Wine differs in two ways. The wineserver opens the
// device for it and, having no controlling terminal, would take the slave as
// its own and get the hang-up when the terminal closes (it then writes its
// state into the host's stderr, thousands of lines); so a child process in a
// session of its own holds the slave as its controlling terminal. And Wine
// sets no exclusive-use flag; so a host is seen by the descriptors of the
// slave that other processes hold (/proc/<pid>/fd).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/posix/baud_rates.h"
#include "platform/posix/port_names.h"
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

// A child process that holds the slave as the controlling terminal of a
// session of its own, until the parent closes `keepAlive_` or ends.
class SessionHolder {
public:
    bool Start(int master, int slave, std::string& error) {
        int alive[2], ready[2];
        if (pipe2(alive, O_CLOEXEC) != 0 || pipe2(ready, O_CLOEXEC) != 0) {
            error = SystemError("cannot give the pseudo-terminal a session of its own");
            return false;
        }
        pid_ = fork();
        if (pid_ == 0) Hold(master, slave, alive, ready);
        close(alive[0]);
        close(ready[1]);
        keepAlive_ = alive[1];
        char answer = 0;
        const bool held = pid_ > 0 && read(ready[0], &answer, 1) == 1 && answer == 'r';
        close(ready[0]);
        if (!held) error = "cannot give the pseudo-terminal a session of its own";
        return held;
    }

    ~SessionHolder() {
        if (keepAlive_ >= 0) close(keepAlive_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }

    pid_t Pid() const { return pid_; }

private:
    [[noreturn]] static void Hold(int master, int slave, const int alive[2], const int ready[2]) {
        close(master);
        close(alive[1]);
        close(ready[0]);
        signal(SIGHUP, SIG_IGN);
        signal(SIGINT, SIG_IGN);
        const bool held = setsid() >= 0 && ioctl(slave, TIOCSCTTY, 0) == 0;
        const char answer = held ? 'r' : 'x';
        if (write(ready[1], &answer, 1) != 1 || !held) _exit(1);
        char byte;
        while (read(alive[0], &byte, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }

    pid_t pid_ = -1;
    int keepAlive_ = -1;
};

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

class PseudoTerminal : public Line {
public:
    PseudoTerminal(int master, int slave, std::string slavePath, std::string link)
        : master_(master), slave_(slave), slavePath_(std::move(slavePath)), link_(std::move(link)) {}

    // Gives the terminal a session of its own; for hosts under Wine.
    bool HoldSession(std::string& error) {
        holder_ = std::make_unique<SessionHolder>();
        return holder_->Start(master_, slave_, error);
    }

    ~PseudoTerminal() override {
        // Remove the link only while it still leads to this terminal.
        char target[PATH_MAX];
        const ssize_t size = readlink(link_.c_str(), target, sizeof target - 1);
        if (size > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(size))) unlink(link_.c_str());
        close(master_);
        holder_.reset();
        close(slave_);
    }

    bool Write(std::string_view bytes) override { return WriteAll(master_, bytes); }
    std::string Read(int timeoutMs) override { return ReadSome(master_, timeoutMs); }

    bool HostPresent() override {
        if (holder_) return OpenedElsewhere(slavePath_, getpid(), holder_->Pid());
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
    std::unique_ptr<SessionHolder> holder_;
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
    if (!winePrefix.empty()) return {winePrefix + "/dosdevices/com" + std::to_string(port), true};
    return {platform::posix::PortLinkPath(dir, port), false};
}

std::unique_ptr<Line> OpenPseudoTerminal(const PortLink& portLink, std::string& error) {
    const std::string& link = portLink.Path;
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
    auto terminal = std::make_unique<PseudoTerminal>(master, slave, slavePath, link);
    if (portLink.ForWine && !terminal->HoldSession(error)) return nullptr;
    unlink(link.c_str());  // a link left behind by an earlier run
    if (symlink(slavePath.c_str(), link.c_str()) != 0) {
        error = SystemError("cannot create " + link);
        return nullptr;
    }
    return terminal;
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
