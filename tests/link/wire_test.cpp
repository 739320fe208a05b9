// The wire as the device sees it, written out as literals: what acknowledges
// a telegram, what ends one, how many bytes one read takes and how long the
// reader waits. The driver, the device double, the simulator, the
// benchmarks and every other test take these values from link/protocol.h,
// so a change there passes all of them; this test fails, and says which.
#include <gtest/gtest.h>

#include "link/protocol.h"

namespace zentrok {
namespace {

TEST(Wire, ValuesTheDeviceReliesOn) {
    EXPECT_EQ(kAck, '\x06') << "ACK, the driver's answer to a telegram";
    EXPECT_EQ(kEndCharacter, '\x14') << "the end character of every telegram";
    EXPECT_EQ(kMaxReadBytes, 250u) << "the bytes one read takes at most: the longest telegram and its end character";
    EXPECT_EQ(kIdleWaitMs, 2000u) << "the reader's wait on a quiet line before it checks the line, in ms";
    EXPECT_EQ(kHandOffWaitMs, 7000u) << "the reader's wait for the host to take a message, in ms";
}

}  // namespace
}  // namespace zentrok
