// The built shared library as a host loads it: the five calls and
// qen_GetLineState are found by their exact names, work through those
// addresses, and are all it exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "zentrok.h"

namespace {

const std::set<std::string> kExportedCalls = {"Qen_GetName", "qen_InitComm",  "qen_CloseComm",
                                              "qen_GetMsg",  "qen_GetSysMsg", "qen_GetLineState"};

class SharedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        // Kept mapped after dlclose: the driver's process-lifetime objects
        // (the open ports, the host thread) must stay reachable.
        library_ = dlopen(ZENTROK_SO, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(library_, nullptr) << dlerror();
    }

    void TearDown() override {
        if (library_) dlclose(library_);
    }

    template <typename Fn>
    Fn* Find(const char* name) {
        return reinterpret_cast<Fn*>(dlsym(library_, name));
    }

    void* library_ = nullptr;
};

TEST_F(SharedLibrary, CallsAreFoundByTheirExactNamesAndWork) {
    for (const std::string& name : kExportedCalls) EXPECT_NE(dlsym(library_, name.c_str()), nullptr) << name;
    // Names match case-sensitively: only the name call has a capital prefix.
    EXPECT_EQ(dlsym(library_, "qen_GetName"), nullptr);
    EXPECT_EQ(dlsym(library_, "Qen_GetMsg"), nullptr);

    auto* getName = Find<decltype(Qen_GetName)>("Qen_GetName");
    ASSERT_NE(getName, nullptr);
    EXPECT_NE(getName, &Qen_GetName) << "the library's own copy, not the test's";
    std::int32_t info1 = 0, info2 = 0, info3 = 0;
    EXPECT_STREQ(getName(&info1, &info2, &info3), "ZENTROK");
    EXPECT_EQ(info1, 65533);
    EXPECT_EQ(info2, 2);
    EXPECT_EQ(info3, 3);

    auto* getSysMsg = Find<decltype(qen_GetSysMsg)>("qen_GetSysMsg");
    ASSERT_NE(getSysMsg, nullptr);
    const std::uint8_t line[] = {7, ' ', ' ', ' ', 'A', ' ', '1', '5'};
    std::int32_t mask = 0x08;
    std::uint8_t table[14] = {};
    std::int32_t value = 0;
    EXPECT_EQ(getSysMsg(line, &mask, table, &value), 0);
    EXPECT_EQ(mask, 0x28);
    EXPECT_EQ(value, 2);

    auto* getMsg = Find<decltype(qen_GetMsg)>("qen_GetMsg");
    ASSERT_NE(getMsg, nullptr);
    QenMsg record{};
    EXPECT_EQ(getMsg(nullptr, &record), 0);

    auto* getLineState = Find<decltype(qen_GetLineState)>("qen_GetLineState");
    ASSERT_NE(getLineState, nullptr);
    QenLineState state{};
    state.Size = sizeof state;
    EXPECT_EQ(getLineState(nullptr, &state), 0);
    EXPECT_EQ(state.Size, sizeof state) << "nothing written for no port";
}

// The defined dynamic symbols of the library, as `nm` lists them.
std::set<std::string> DefinedDynamicSymbols(std::string& listing) {
    const std::string command = std::string("nm -D --defined-only '") + ZENTROK_SO + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::set<std::string> symbols;
    if (!pipe) return symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        listing += line;
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) symbols.insert(name);
    }
    pclose(pipe);
    return symbols;
}

TEST(SharedLibraryExports, ExactlyTheExportedCalls) {
    std::string listing;
    EXPECT_EQ(DefinedDynamicSymbols(listing), kExportedCalls) << listing;
}

}  // namespace
