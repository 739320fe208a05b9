// Opening a port that is not there gives the host a null handle. The ports
// are looked up in an empty directory of the test's own, so no real device
// is touched.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "host_record.h"
#include "zentrok.h"

namespace {

using zentrok::test::PatternMsg;

class MissingPort : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zentrok-ports-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        portDir_ = pattern;
        ASSERT_EQ(setenv("ZENTROK_PORT_DIR", portDir_.c_str(), 1), 0);
    }

    void TearDown() override {
        unsetenv("ZENTROK_PORT_DIR");
        std::remove((portDir_ + "/COM2").c_str());
        rmdir(portDir_.c_str());
    }

    std::string portDir_;
};

TEST_F(MissingPort, InitCommGivesNullAndTheHandleIsHarmless) {
    for (std::int32_t portNumber : {0, 1, -1, 255}) {
        SCOPED_TRACE(portNumber);
        const QenHandle handle = qen_InitComm(portNumber, 1);
        EXPECT_EQ(handle, nullptr);
        QenMsg record = PatternMsg();
        EXPECT_EQ(qen_GetMsg(handle, &record), 0);
        EXPECT_EQ(qen_CloseComm(handle), 0);
    }

    // A file of the port's name that is no serial device does not open either.
    std::FILE* notADevice = std::fopen((portDir_ + "/COM2").c_str(), "w");
    ASSERT_NE(notADevice, nullptr);
    std::fclose(notADevice);
    EXPECT_EQ(qen_InitComm(2, 1), nullptr);
}

}  // namespace
