// The exported calls as a host sees them: the driver's identity, and
// handles or records that are no open port's never crash or get written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "host_record.h"
#include "zentrok.h"

namespace {

using zentrok::test::PatternMsg;
using zentrok::test::SameBytes;

constexpr std::int32_t kUntouched = -1;

TEST(DriverIdentity, NameAndNumbersForAnyMixOfOutParameters) {
    std::int32_t info1 = kUntouched;
    std::int32_t info2 = kUntouched;
    std::int32_t info3 = kUntouched;
    const char* name = Qen_GetName(&info1, &info2, &info3);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "ZENTROK");
    EXPECT_EQ(std::strlen(name), 7u);
    EXPECT_EQ(info1, 65533) << "a full 32-bit value: the upper 16 bits cleared";
    EXPECT_EQ(info2, 2);
    EXPECT_EQ(info3, 3);

    EXPECT_EQ(Qen_GetName(nullptr, nullptr, nullptr), name) << "the same text every call";

    std::int32_t only2 = kUntouched;
    EXPECT_EQ(Qen_GetName(nullptr, &only2, nullptr), name);
    EXPECT_EQ(only2, 2);

    std::int32_t first = kUntouched;
    std::int32_t third = kUntouched;
    EXPECT_EQ(Qen_GetName(&first, nullptr, &third), name);
    EXPECT_EQ(first, 65533);
    EXPECT_EQ(third, 3);
    EXPECT_STREQ(name, "ZENTROK");
}

TEST(ExportedCalls, HandlesOfNoOpenPortAreIgnored) {
    QenMsg record = PatternMsg();
    const QenMsg before = PatternMsg();
    QenLineState state;
    std::memset(&state, 0xA5, sizeof state);
    state.Size = sizeof state;
    const QenLineState stateBefore = state;

    // A handle-sized value that points at no port, and one that points at
    // readable memory that merely looks like a record: neither is followed.
    const QenHandle bogus = reinterpret_cast<QenHandle>(static_cast<std::uintptr_t>(0x1234));
    QenMsg lookalike = record;
    const QenHandle stray = &lookalike;

    for (QenHandle handle : {QenHandle{nullptr}, bogus, stray}) {
        EXPECT_EQ(qen_GetMsg(handle, &record), 0);
        EXPECT_TRUE(SameBytes(record, before)) << "the record stays as it was";
        EXPECT_EQ(qen_GetMsg(handle, nullptr), 0);
        EXPECT_EQ(qen_GetLineState(handle, &state), 0);
        EXPECT_EQ(std::memcmp(&state, &stateBefore, sizeof state), 0) << "the line state stays as it was";
        EXPECT_EQ(qen_GetLineState(handle, nullptr), 0);
        EXPECT_EQ(qen_CloseComm(handle), 0);
        EXPECT_EQ(qen_CloseComm(handle), 0) << "closing twice";
    }
    EXPECT_TRUE(SameBytes(lookalike, before));
}

}  // namespace
