#include "pty/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/posix/port_names.h"

namespace zentrok::pty {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// The milliseconds left for poll: -1 without a bound.
class Deadline {
public:
    explicit Deadline(int timeoutMs) : bounded_(timeoutMs >= 0), end_(Clock::now() + Milliseconds(timeoutMs)) {}

    int Left() const {
        if (!bounded_) return -1;
        const auto left = std::chrono::duration_cast<Milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
    }

private:
    using Milliseconds = std::chrono::milliseconds;
    bool bounded_;
    Clock::time_point end_;
};

void MakeRaw(int fd) {
    termios line{};
    if (tcgetattr(fd, &line) != 0) Fail("cannot read the pseudo-terminal's settings");
    cfmakeraw(&line);
    line.c_cflag |= CREAD | CLOCAL;
    cfsetispeed(&line, B9600);
    cfsetospeed(&line, B9600);
    if (tcsetattr(fd, TCSANOW, &line) != 0) Fail("cannot set up the pseudo-terminal");
}

// Where the link at `path` leads, or "" when there is none.
std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t size = readlink(path.c_str(), target, sizeof target - 1);
    return size > 0 ? std::string(target, static_cast<std::size_t>(size)) : std::string();
}

// The session holder: takes `slave` as the controlling terminal of a new
// session, says so on `ready` and waits until `alive` closes.
[[noreturn]] void HoldSlave(int slave, int alive, int ready) {
    signal(SIGHUP, SIG_IGN);
    signal(SIGINT, SIG_IGN);
    const bool held = setsid() >= 0 && ioctl(slave, TIOCSCTTY, 0) == 0;
    const char answer = held ? 'r' : 'x';
    if (write(ready, &answer, 1) != 1 || !held) _exit(1);
    char byte;
    while (read(alive, &byte, 1) < 0 && errno == EINTR) {
    }
    _exit(0);
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        const int error = errno;
        if (master_ >= 0) close(master_);
        errno = error;
        Fail("cannot create a pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    try {
        if (slave_ < 0) Fail("cannot open " + slavePath_);
        MakeRaw(slave_);
    } catch (...) {
        if (slave_ >= 0) close(slave_);
        close(master_);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    if (!link_.empty() && LinkTarget(link_) == slavePath_) unlink(link_.c_str());
    HangUp();
    if (holderAlive_ >= 0) close(holderAlive_);
    if (holder_ > 0) waitpid(holder_, nullptr, 0);
    close(slave_);
}

void PseudoTerminal::LinkAs(const std::string& path) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        throw std::runtime_error(path + " exists and is not a link; it is left alone");
    unlink(path.c_str());
    if (symlink(slavePath_.c_str(), path.c_str()) != 0) Fail("cannot create " + path);
    link_ = path;
}

void PseudoTerminal::HoldSession() {
    int alive[2], ready[2];
    if (pipe2(alive, O_CLOEXEC) != 0) Fail("cannot give the pseudo-terminal a session of its own");
    if (pipe2(ready, O_CLOEXEC) != 0) {
        close(alive[0]);
        close(alive[1]);
        Fail("cannot give the pseudo-terminal a session of its own");
    }
    holder_ = fork();
    if (holder_ == 0) {
        // The holder keeps only its own ends: it waits for the end of file
        // that the parent's closing of the other end brings.
        close(master_);
        close(alive[1]);
        close(ready[0]);
        HoldSlave(slave_, alive[0], ready[1]);
    }
    close(alive[0]);
    close(ready[1]);
    holderAlive_ = alive[1];
    char answer = 0;
    const bool held = holder_ > 0 && read(ready[0], &answer, 1) == 1 && answer == 'r';
    close(ready[0]);
    if (!held) throw std::runtime_error("cannot give the pseudo-terminal a session of its own");
}

bool PseudoTerminal::Write(std::string_view bytes, int timeoutMs) {
    const Deadline deadline(timeoutMs);
    while (!bytes.empty() && master_ >= 0) {
        const ssize_t written = write(master_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) return false;
        const int left = deadline.Left();
        if (left == 0) return false;
        pollfd fd{master_, POLLOUT, 0};
        poll(&fd, 1, left);
    }
    return bytes.empty();
}

std::string PseudoTerminal::Read(std::size_t most, int timeoutMs) {
    const Deadline deadline(timeoutMs);
    char bytes[256];
    while (most > 0 && master_ >= 0) {
        const ssize_t got = read(master_, bytes, std::min(sizeof bytes, most));
        if (got > 0) return std::string(bytes, static_cast<std::size_t>(got));
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) break;
        const int left = deadline.Left();
        if (left == 0) break;
        pollfd fd{master_, POLLIN, 0};
        poll(&fd, 1, left);
    }
    return {};
}

void PseudoTerminal::HangUp() {
    if (master_ < 0) return;
    close(master_);
    master_ = -1;
}

PortFolder::PortFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zentrok-ports-XXXXXX").string();
    if (!mkdtemp(pattern.data())) Fail("cannot create a folder for the port links");
    path_ = pattern;
    setenv(platform::posix::kPortDirVariable, path_.c_str(), 1);
}

PortFolder::~PortFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string PortFolder::LinkPath(int port) const { return platform::posix::PortLinkPath(path_, port); }

std::string WineLinkPath(const std::string& prefix, int port) {
    return prefix + "/dosdevices/com" + std::to_string(port);
}

}  // namespace zentrok::pty
