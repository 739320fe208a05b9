// zentrok.dll loaded, run and unloaded as hosts do it: unloaded by a thread
// that is not the host thread while a notification still waits for the
// host thread, or with a port still open; loaded into a process that
// already has GCC's shared runtime; first opened on a thread that has ended
// since; logging into a file that another process holds locked; used by a
// plug-in DLL that closes its port from its DllMain. Each test runs in a
// process of its own (see CMakeLists.txt): a library that has opened a port
// stays loaded, and the first open of the process counts.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "device_double.h"
#include "link/comm_thread.h"
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

// Whether another process holds a lock on the start of the only log file.
bool LogHeldLocked() {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA("Qenlog\\*.zqa", &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    const std::string path = std::string("Qenlog\\") + found.cFileName;
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED start{};
    const bool free = LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start);
    if (free) UnlockFileEx(file, 0, 1, 0, &start);
    CloseHandle(file);
    return !free;
}

// Polls `port` through `calls` until the device has its ACK; the time that took.
std::chrono::milliseconds PollUntilAcknowledged(const Calls& calls, QenHandle port, DeviceDouble& device) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) {
        QenMsg msg;
        calls.getMsg(port, &msg);
        if (device.Receive(1, 5ms) == std::string(1, kAck)) break;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// The plug-in of plugin_dll.cpp, loaded.
struct Plugin {
    Plugin() : module(LoadLibraryA("windows_plugin.dll")) {}
    template <typename Fn>
    Fn Find(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }
    HMODULE module;
    int (*openPort)(int) = Find<int (*)(int)>("plugin_OpenPort");
    int (*poll)() = Find<int (*)()>("plugin_Poll");
};

// How long the plug-in's close in its DllMain took, as it wrote it down;
// -1 when it has not written it (the close never returned, or never ran).
long PluginCloseMs() {
    const std::string text = ReadFileBytes("plugin_closed.txt");
    return text.empty() ? -1 : std::stol(text);
}

// The host thread takes a message inside qen_GetMsg, so the notification
// that announced it is still queued for it when another thread unloads the
// library; retrieving it afterwards must not reach into unloaded code. The
// library stays loaded once it has opened a port.
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
            delivered = delivered && device.Receive(1, 3s) == std::string(1, kAck);
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
    EXPECT_NE(GetModuleHandleA("zentrok.dll"), nullptr) << "the library was unloaded under its window";
    EXPECT_FALSE(HasLibraryWindow()) << "the host thread's window outlived its thread";
}

// A plug-in host unloads the library with a port still open: its reader
// goes on, the host goes on, and the port still works and closes.
TEST(DllLifetime, UnloadWithAPortOpenLeavesTheHostRunning) {
    const PVOID counting = AddVectoredExceptionHandler(1, CountAccessViolations);
    WorkDir dir;
    DeviceDouble device(43);
    const HMODULE module = LoadLibraryA("zentrok.dll");
    ASSERT_NE(module, nullptr);
    const Calls calls(module);
    const QenHandle port = calls.initComm(device.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    FreeLibrary(module);
    Sleep(300);  // the reader waits for input meanwhile

    device.SendTelegram("1073xxxx00ABCD TCXYZ");
    EXPECT_LT(PollUntilAcknowledged(calls, port, device), 3s) << "the port stopped working";
    calls.closeComm(port);
    RemoveVectoredExceptionHandler(counting);
    EXPECT_EQ(gAccessViolations, 0);
}

// The first open ran on a thread that has ended since (a thread-pool task,
// a worker that opened the port): a thread that only polls, and retrieves
// no window messages, still gets the message, and it is acknowledged.
TEST(DllLifetime, FirstOpenOnAnEndedThreadLeavesPollingWorking) {
    WorkDir dir;
    DeviceDouble device(44);
    const HMODULE module = LoadLibraryA("zentrok.dll");
    ASSERT_NE(module, nullptr);
    const Calls calls(module);
    std::thread([&] { calls.closeComm(calls.initComm(device.PortNumber(), 1)); }).join();

    const QenHandle port = calls.initComm(device.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    device.SendTelegram("1073xxxx00ABCD TCXYZ");
    int items = 0;
    std::string ack;
    for (int i = 0; i < 400 && ack.empty(); ++i) {
        QenMsg msg;
        items += calls.getMsg(port, &msg);
        ack = device.Receive(1, 5ms);
    }
    EXPECT_EQ(items, 1);
    EXPECT_EQ(ack, std::string(1, kAck));

    // A thread that only polls, while the window of the thread above is gone.
    device.SendTelegram("1073xxxx00ABCD TCXYZ");
    std::thread poller([&] { EXPECT_LT(PollUntilAcknowledged(calls, port, device), 3s); });
    poller.join();
    calls.closeComm(port);
}

// Another process holds a lock on the whole log file (a backup, a viewer):
// the line is not written, but the ACK comes within the log's bound of a
// quarter second (with room for a loaded machine), and the close is prompt.
TEST(DllLifetime, LockedLogDelaysNeitherTheAckNorTheClose) {
    WorkDir dir;
    DeviceDouble device(45);
    const HMODULE module = LoadLibraryA("zentrok.dll");
    ASSERT_NE(module, nullptr);
    const Calls calls(module);
    const QenHandle port = calls.initComm(device.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    device.SendTelegram("1ABC");  // acknowledged at once; creates the log file
    ASSERT_LT(PollUntilAcknowledged(calls, port, device), 3s);

    char command[] = "windows_log_appender.exe --lock 20000";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder{};
    ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder));
    bool held = false;
    for (int i = 0; i < 500 && !held; ++i, Sleep(10)) held = LogHeldLocked();
    ASSERT_TRUE(held) << "the other process did not lock the log";

    device.SendTelegram("1073xxxx00ABCD TCXYZ");
    EXPECT_LT(PollUntilAcknowledged(calls, port, device), 1500ms);
    const auto start = std::chrono::steady_clock::now();
    calls.closeComm(port);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    TerminateProcess(holder.hProcess, 0);
    WaitForSingleObject(holder.hProcess, INFINITE);
    CloseHandle(holder.hThread);
    CloseHandle(holder.hProcess);
}

// A plug-in that closes its port from its DllMain when the host unloads it:
// the close returns while the loader lock keeps the reader's thread from
// exiting, well within the close's grace, as the reader ended at once. The
// host goes on: the port number is free again, and the port opens and works.
TEST(DllLifetime, PluginClosingOnUnloadReturnsAndLeavesThePortFree) {
    WorkDir dir;
    DeviceDouble device(46);
    Plugin plugin;
    ASSERT_NE(plugin.module, nullptr);
    ASSERT_TRUE(plugin.openPort(device.PortNumber()));
    device.SendTelegram("1073xxxx00ABCD TCXYZ");
    std::string ack;
    for (int i = 0; i < 600 && ack.empty(); ++i) {
        plugin.poll();
        ack = device.Receive(1, 5ms);
    }
    ASSERT_EQ(ack, std::string(1, kAck)) << "the plug-in's port did not work";

    const auto start = std::chrono::steady_clock::now();
    FreeLibrary(plugin.module);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 5000)
        << "the unload hung in the plug-in's close";
    const long closeMs = PluginCloseMs();
    EXPECT_GE(closeMs, 0) << "the plug-in's DllMain did not close its port";
    EXPECT_LT(closeMs, static_cast<long>(kCloseGraceMs)) << "the close waited for a reader that had ended";

    const HMODULE library = GetModuleHandleA("zentrok.dll");
    ASSERT_NE(library, nullptr);
    const Calls calls(library);
    const QenHandle port = calls.initComm(device.PortNumber(), 1);
    ASSERT_NE(port, nullptr) << "the port stayed taken after the plug-in's close";
    device.SendTelegram("1073xxxx00ABCD TCXYZ");
    EXPECT_LT(PollUntilAcknowledged(calls, port, device), 3s);
    calls.closeComm(port);
}

// A host process that ends with the plug-in loaded and its port open: the
// system has ended the reader's thread before the plug-in's DllMain closes
// the port, so the close cannot wait for the reader's own end. The close
// returns and the process ends.
TEST(DllLifetime, PluginClosingAtProcessExitLetsTheProcessEnd) {
    WorkDir dir;
    DeviceDouble device(47);
    const std::string tag = std::to_string(GetCurrentProcessId());
    const std::string readyName = "ZentrokPluginReady" + tag;
    const std::string endName = "ZentrokPluginEnd" + tag;
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
    const HANDLE end = CreateEventA(nullptr, TRUE, FALSE, endName.c_str());
    std::string command =
        "windows_plugin_host.exe " + std::to_string(device.PortNumber()) + " " + readyName + " " + endName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION host{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &host));
    const HANDLE started[2] = {ready, host.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, started, FALSE, 30000), WAIT_OBJECT_0) << "the plug-in's port did not open";
    device.SendTelegram("1073xxxx00ABCD TCXYZ");
    EXPECT_EQ(device.Receive(1, 10s), std::string(1, kAck)) << "the plug-in's port did not work";

    SetEvent(end);
    const DWORD ended = WaitForSingleObject(host.hProcess, 5000);
    EXPECT_EQ(ended, WAIT_OBJECT_0) << "the process hung at its end, in the plug-in's close";
    DWORD status = STILL_ACTIVE;
    GetExitCodeProcess(host.hProcess, &status);
    EXPECT_EQ(status, 0u);
    const long closeMs = PluginCloseMs();
    EXPECT_GE(closeMs, 0) << "the plug-in's DllMain did not close its port, or its close did not return";
    EXPECT_LT(closeMs, static_cast<long>(kCloseGraceMs)) << "the close waited for a reader the system had ended";
    if (ended != WAIT_OBJECT_0) TerminateProcess(host.hProcess, 1);
    CloseHandle(host.hThread);
    CloseHandle(host.hProcess);
    CloseHandle(end);
    CloseHandle(ready);
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
    EXPECT_EQ(calls.initComm(0, 1), nullptr);  // a port that does not open binds no thread

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
    EXPECT_EQ(ack, std::string(1, kAck));
    calls.closeComm(handle);
    FreeLibrary(module);
    FreeLibrary(runtime);
}

}  // namespace
}  // namespace zentrok::test
