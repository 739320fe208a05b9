// The host thread's hidden window: a notification from a reader runs the
// queued calls on the host thread, and only when that thread retrieves
// messages, also inside a wait of the thread that loaded the library.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"

// The library's entry point; in a test program nothing calls it on its own.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

namespace zentrok::platform {
namespace {

std::atomic<int> gRuns{0};
std::atomic<DWORD> gRanOn{0};
Event* gRan = nullptr;

void RunQueued() {
    gRanOn = GetCurrentThreadId();
    ++gRuns;
    if (gRan) gRan->Set();
}

class HostWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { AttachHostThread(&RunQueued); }
    void SetUp() override { gRuns = 0; }

    static void NotifyFromAnotherThread() {
        std::thread reader(NotifyHostThread);
        reader.join();
    }
};

TEST_F(HostWindow, NotificationRunsWhenTheHostThreadRetrievesMessages) {
    NotifyFromAnotherThread();
    EXPECT_EQ(gRuns, 0) << "ran before the host thread looked at its messages";

    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(gRuns, 1);
    EXPECT_EQ(gRanOn, GetCurrentThreadId());
}

// Each notification runs every queued call, so a host thread that is busy
// for a while finds one waiting, not one per telegram.
TEST_F(HostWindow, NotificationsDoNotPileUp) {
    for (int i = 0; i < 100; ++i) NotifyFromAnotherThread();
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(gRuns, 1);

    NotifyFromAnotherThread();  // handled: the next one is sent again
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(gRuns, 2);
}

TEST_F(HostWindow, WaitOfTheLoadingThreadRunsNotifications) {
    DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);  // this thread loaded the library
    Event ran(Event::Mode::ManualReset);
    gRan = &ran;
    std::thread reader(NotifyHostThread);
    // The call can only run, and set `ran`, if the wait delivers the notification.
    EXPECT_EQ(HostWait(ran, nullptr, 20000), WaitResult::First);
    reader.join();
    gRan = nullptr;
    EXPECT_EQ(gRuns, 1);
    EXPECT_EQ(gRanOn, GetCurrentThreadId());
}

}  // namespace
}  // namespace zentrok::platform
