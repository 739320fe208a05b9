// A port closed by a host that is not the superuser can be opened again:
// the exclusive-use flag of the terminal must not outlive the driver's use.
// The superuser is exempt from that flag, so as root the host runs in a
// child process under an unprivileged user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "device_double.h"
#include "zentrok.h"

namespace zentrok::test {
namespace {

constexpr uid_t kUnprivileged = 65534;  // "nobody"

// Opens and closes the port three times; the exit status counts failures.
int OpenCloseAgain(std::int32_t port) {
    int failures = 0;
    for (int i = 0; i < 3; ++i) {
        const QenHandle handle = qen_InitComm(port, 1);
        if (!handle) ++failures;
        qen_CloseComm(handle);
    }
    return failures;
}

TEST(ReopenTest, ClosedPortOpensAgainForAnUnprivilegedHost) {
    DeviceDouble device(4);
    if (geteuid() != 0) {
        EXPECT_EQ(OpenCloseAgain(device.PortNumber()), 0);
        return;
    }
    // Let the unprivileged host reach the link and the terminal behind it.
    const std::string folder = std::getenv("ZENTROK_PORT_DIR");
    const std::string link = folder + "/COM" + std::to_string(device.PortNumber());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(target, 0666), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(kUnprivileged) != 0 || setuid(kUnprivileged) != 0) _exit(100);
        _exit(OpenCloseAgain(device.PortNumber()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "opens refused after a close (100: could not drop privileges)";
}

}  // namespace
}  // namespace zentrok::test
