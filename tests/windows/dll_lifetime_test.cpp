// zentrok.dll loaded and unloaded as hosts do it: unloaded by a thread that
// is not the host thread while a notification still waits for the host
// thread, and loaded into a process that already has GCC's shared runtime.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "device_double.h"
#include "work_dir.h"
#include "zentrok.h"

namespace zentrok::test {
namespace {

using namespace std::chrono_literals;

struct Calls {
    explicit Calls(HMODULE module) : module(module) {}
    template <typename Fn>
    Fn Find(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }
    HMODULE module;
    decltype(&qen_InitComm) initComm = Find<decltype(&qen_InitComm)>("qen_InitComm");
    decltype(&qen_GetMsg) getMsg = Find<decltype(&qen_GetMsg)>("qen_GetMsg");
    decltype(&qen_CloseComm) closeComm = Find<decltype(&qen_CloseComm)>("qen_CloseComm");
};

// While it lives, the process has no address space left: no thread can
// get a stack.
class AddressSpaceExhausted {
public:
    AddressSpaceExhausted() {
        reservations_.reserve(4096);
        for (SIZE_T size = SIZE_T{1} << 30; size >= 4096; size /= 2)
            while (reservations_.size() < reservations_.capacity())
                if (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
                    reservations_.push_back(block);
                else
                    break;
    }
    ~AddressSpaceExhausted() {
        for (void* block : reservations_) VirtualFree(block, 0, MEM_RELEASE);
    }
    AddressSpaceExhausted(const AddressSpaceExhausted&) = delete;
    AddressSpaceExhausted& operator=(const AddressSpaceExhausted&) = delete;

private:
    std::vector<void*> reservations_;
};

// Access violations anywhere in the process, also those that the system
// swallows in a window procedure run as a callback (Wine and 64-bit Windows
// do; 32-bit Windows ends the process).
std::atomic<int> gAccessViolations{0};

LONG CALLBACK CountAccessViolations(EXCEPTION_POINTERS* exception) {
    if (exception->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ++gAccessViolations;
    return EXCEPTION_CONTINUE_SEARCH;
}

// Whether this process has a window by the name the library gives its own.
bool HasLibraryWindow() {
    for (HWND window = nullptr; (window = FindWindowExA(HWND_MESSAGE, window, nullptr, "ZentrokHostThread"));) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return true;
    }
    return false;
}

// The host thread takes a message inside qen_GetMsg, so the notification
// that announced it is still queued for it when another thread unloads the
// library; retrieving it afterwards must not reach into unloaded code.
TEST(DllLifetime, UnloadOnAnotherThreadLeavesNothingThatCallsIntoIt) {
    const PVOID counting = AddVectoredExceptionHandler(1, CountAccessViolations);
    WorkDir dir;
    DeviceDouble device(41);
    const HMODULE module = LoadLibraryA("zentrok.dll");
    ASSERT_NE(module, nullptr);
    const Calls calls(module);

    std::promise<bool> served;
    std::promise<void> unloaded;
    std::thread host([&] {
        const QenHandle port = calls.initComm(device.PortNumber(), 1);
        bool delivered = false;
        if (port) {
            device.SendTelegram("1073xxxx00ABCD TCXYZ");
            QenMsg msg;
            for (int i = 0; i < 600 && !delivered; ++i, Sleep(5)) delivered = calls.getMsg(port, &msg) == 1;
            delivered = delivered && device.Receive(1, 3s) == std::string(1, kAckByte);
            calls.closeComm(port);
        }
        served.set_value(delivered);
        unloaded.get_future().wait();
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    });
    const bool delivered = served.get_future().get();
    FreeLibrary(module);
    unloaded.set_value();
    host.join();
    RemoveVectoredExceptionHandler(counting);

    EXPECT_TRUE(delivered) << "the message was not handed over and acknowledged";
    EXPECT_EQ(gAccessViolations, 0) << "a message for the library's window reached its unloaded code";
    EXPECT_EQ(GetModuleHandleA("zentrok.dll"), nullptr) << "the library stayed loaded";
    EXPECT_FALSE(HasLibraryWindow()) << "the host thread's window outlived the library";
}

// A reader thread that cannot start makes qen_InitComm report that the port
// did not open: the failure is caught inside the DLL, also where the host
// has loaded GCC's shared runtime before the DLL.
TEST(DllLifetime, FailedThreadStartGivesNullWhateverRuntimeTheHostHasLoaded) {
    WorkDir dir;
    DeviceDouble device(42);
    const HMODULE runtime = LoadLibraryA("libgcc_s_dw2-1.dll");
    ASSERT_NE(runtime, nullptr);
    const HMODULE module = LoadLibraryA("zentrok.dll");
    ASSERT_NE(module, nullptr);
    const Calls calls(module);
    EXPECT_EQ(calls.initComm(0, 1), nullptr);  // the first open sets up the host thread

    QenHandle handle = nullptr;
    {
        const AddressSpaceExhausted exhausted;
        handle = calls.initComm(device.PortNumber(), 1);
    }
    EXPECT_EQ(handle, nullptr);
    if (handle) calls.closeComm(handle);

    // Nothing of the failed open is left: the port opens and works.
    handle = calls.initComm(device.PortNumber(), 1);
    ASSERT_NE(handle, nullptr);
    device.SendTelegram("1ABC");
    std::string ack;
    for (int i = 0; i < 300 && ack.empty(); ++i) {
        QenMsg msg;
        calls.getMsg(handle, &msg);
        ack = device.Receive(1, 10ms);
    }
    EXPECT_EQ(ack, std::string(1, kAckByte));
    calls.closeComm(handle);
    FreeLibrary(module);
    FreeLibrary(runtime);
}

}  // namespace
}  // namespace zentrok::test
