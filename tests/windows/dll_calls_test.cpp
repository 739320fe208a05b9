// zentrok.dll as a host uses it: loaded by name, each call looked up by its
// exported name and called through a pointer of the host's own __stdcall type.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host_record.h"
#include "zentrok.h"

namespace {

using GetNameFn = const char*(__stdcall*)(int32_t*, int32_t*, int32_t*);
using InitCommFn = void*(__stdcall*)(int32_t, int32_t);
using CloseCommFn = int32_t(__stdcall*)(void*);
using GetMsgFn = int32_t(__stdcall*)(void*, QenMsg*);
using GetSysMsgFn = int32_t(__stdcall*)(const uint8_t*, int32_t*, uint8_t*, int32_t*);
using GetLineStateFn = int32_t(__stdcall*)(void*, QenLineState*);

// A system-status line as the host passes it: length byte first.
std::string SysLine(const std::string& text) { return std::string(1, static_cast<char>(text.size())) + text; }

const uint8_t* Bytes(const std::string& line) { return reinterpret_cast<const uint8_t*>(line.data()); }

class LoadedDll : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryA("zentrok.dll"); }
    static void TearDownTestSuite() {
        if (module_) FreeLibrary(module_);
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "LoadLibraryA failed: " << GetLastError(); }

    static FARPROC Find(const char* name) { return GetProcAddress(module_, name); }

    template <typename Fn>
    static Fn Call(const char* name) {
        // Through void(*)(): the documented way to change a function pointer's type.
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(Find(name)));
    }

    static HMODULE module_;
};

HMODULE LoadedDll::module_ = nullptr;

TEST_F(LoadedDll, EachCallIsFoundUnderItsPlainName) {
    for (const char* name :
         {"Qen_GetName", "qen_InitComm", "qen_CloseComm", "qen_GetMsg", "qen_GetSysMsg", "qen_GetLineState"})
        EXPECT_NE(Find(name), nullptr) << name;
}

TEST_F(LoadedDll, NamesMatchOnlyExactly) {
    // Decorated __stdcall forms, and the case of the prefix, are not accepted.
    for (const char* name : {"qen_GetName", "QEN_GETNAME", "qen_getmsg", "Qen_GetMsg", "_qen_GetMsg@8", "qen_GetMsg@8",
                             "Qen_GetName@12", "_Qen_GetName@12", "qen_GetLineState@8"})
        EXPECT_EQ(Find(name), nullptr) << name;
}

TEST_F(LoadedDll, GetNameGivesTheNameAndTheThreeNumbers) {
    const auto getName = Call<GetNameFn>("Qen_GetName");
    ASSERT_NE(getName, nullptr);
    int32_t info1 = 0, info2 = 0, info3 = 0;
    EXPECT_STREQ(getName(&info1, &info2, &info3), "ZENTROK");
    EXPECT_EQ(info1, 65533);
    EXPECT_EQ(info2, 2);
    EXPECT_EQ(info3, 3);
    EXPECT_STREQ(getName(nullptr, nullptr, nullptr), "ZENTROK");
}

TEST_F(LoadedDll, GetSysMsgUpdatesTheHostsMaskAndTable) {
    const auto getSysMsg = Call<GetSysMsgFn>("qen_GetSysMsg");
    ASSERT_NE(getSysMsg, nullptr);
    int32_t mask = 0x0100;
    uint8_t table[14] = {};
    int32_t sysValue = 0;

    getSysMsg(Bytes(SysLine("   A 03")), &mask, table, &sysValue);
    EXPECT_EQ(mask, 0x0101);
    EXPECT_EQ(sysValue, 2);

    getSysMsg(Bytes(SysLine("   R E5")), &mask, table, &sysValue);
    EXPECT_EQ(table[4], 0xFF);
    getSysMsg(Bytes(SysLine("   R 04")), &mask, table, &sysValue);
    EXPECT_EQ(mask, 0x0100);
}

TEST_F(LoadedDll, InitCommOnAPortThatDoesNotExistGivesNull) {
    const auto initComm = Call<InitCommFn>("qen_InitComm");
    ASSERT_NE(initComm, nullptr);
    EXPECT_EQ(initComm(0, 1), nullptr);
    EXPECT_EQ(initComm(-1, 1), nullptr);
    EXPECT_EQ(initComm(250, 1), nullptr);
}

TEST_F(LoadedDll, CallsWithAHandleThatIsNoPortDoNothing) {
    const auto getMsg = Call<GetMsgFn>("qen_GetMsg");
    const auto closeComm = Call<CloseCommFn>("qen_CloseComm");
    const auto getLineState = Call<GetLineStateFn>("qen_GetLineState");
    ASSERT_NE(getMsg, nullptr);
    ASSERT_NE(closeComm, nullptr);
    ASSERT_NE(getLineState, nullptr);
    QenMsg msg = zentrok::test::PatternMsg();
    QenLineState state;
    std::memset(&state, 0xA5, sizeof state);
    state.Size = sizeof state;
    const QenLineState stateUntouched = state;
    int32_t notAPort = 0;
    EXPECT_EQ(getMsg(nullptr, &msg), 0);
    EXPECT_EQ(getMsg(&notAPort, &msg), 0);
    EXPECT_TRUE(zentrok::test::SameBytes(msg, zentrok::test::PatternMsg()));
    EXPECT_EQ(getLineState(nullptr, &state), 0);
    EXPECT_EQ(getLineState(&notAPort, &state), 0);
    EXPECT_EQ(std::memcmp(&state, &stateUntouched, sizeof state), 0);
    EXPECT_EQ(closeComm(nullptr), 0);
    EXPECT_EQ(closeComm(&notAPort), 0);
}

}  // namespace
