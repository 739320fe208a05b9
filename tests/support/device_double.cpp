#include "device_double.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

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

}  // namespace

const std::string& DeviceDouble::PortFolder() {
    static const PortFolderOwner folder;
    return folder.path;
}

DeviceDouble::DeviceDouble(std::int32_t portNumber) : portNumber_(portNumber) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) Fail("posix_openpt");
    const std::string slavePath = ptsname(master_);
    slave_ = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) Fail("open slave");
    // Raw from the start: nothing sent before the driver configures the line
    // is echoed back or held for a line end.
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);

    linkPath_ = PortFolder() + "/COM" + std::to_string(portNumber);
    std::filesystem::remove(linkPath_);
    std::filesystem::create_symlink(slavePath, linkPath_);
}

DeviceDouble::~DeviceDouble() {
    std::error_code ignored;
    std::filesystem::remove(linkPath_, ignored);
    CloseMaster();
    close(slave_);
}

void DeviceDouble::Send(std::string_view bytes) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!bytes.empty()) {
        const ssize_t written = write(master_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) Fail("write to line");
        if (Clock::now() >= deadline) throw std::runtime_error("the line takes no more bytes");
        pollfd fd{master_, POLLOUT, 0};
        poll(&fd, 1, MillisecondsLeft(deadline));
    }
}

void DeviceDouble::SendTelegram(std::string_view text) {
    std::string bytes(text);
    bytes += kEndCharacter;
    Send(bytes);
}

std::string DeviceDouble::Receive(std::size_t count, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    std::string received;
    while (received.size() < count && master_ >= 0) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) {
            if (Clock::now() >= deadline) break;
            continue;
        }
        char bytes[256];
        const std::size_t wanted = std::min(sizeof bytes, count - received.size());
        const ssize_t got = read(master_, bytes, wanted);
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

termios DeviceDouble::SlaveAttributes() const {
    termios attributes{};
    if (tcgetattr(slave_, &attributes) != 0) Fail("tcgetattr");
    return attributes;
}

void DeviceDouble::CloseMaster() {
    if (master_ < 0) return;
    close(master_);
    master_ = -1;
}

}  // namespace zentrok::test
