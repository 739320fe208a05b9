// The host thread's hidden window, the library's entry point, and the waits
// a host's call makes on the thread that loaded the library.
#include <windows.h>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

constexpr char kWindowClass[] = "ZentrokHostThread";
constexpr UINT kRunQueuedMessage = WM_APP + 1;

// Set on load; stay unset when the objects are linked into a program.
HINSTANCE gModule = nullptr;
DWORD gLoaderThread = 0;  // no thread has the id 0

// Set once by the host thread's first qen_InitComm, before any reader starts.
HWND gHostWindow = nullptr;
void (*gRunQueued)() = nullptr;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kRunQueuedMessage) return DefWindowProcA(window, message, wParam, lParam);
    gRunQueued();
    return 0;
}

// A wait that delivers the messages sent to this thread's windows meanwhile,
// so that a reader's hand-off can complete while the host waits.
WaitResult WaitDeliveringMessages(Event& first, Event* second, std::uint32_t timeoutMs) {
    const HANDLE events[2] = {reinterpret_cast<HANDLE>(first.Native()),
                              second ? reinterpret_cast<HANDLE>(second->Native()) : nullptr};
    const DWORD count = second ? 2 : 1;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = timeoutMs == INFINITE ? INFINITE : timeoutMs - (elapsed < timeoutMs ? elapsed : timeoutMs);
        const DWORD result = MsgWaitForMultipleObjects(count, events, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return WaitResult::First;
        if (second && result == WAIT_OBJECT_0 + 1) return WaitResult::Second;
        if (result != WAIT_OBJECT_0 + count) return WaitResult::TimedOut;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // runs the sent messages
    }
}

}  // namespace

WaitResult HostWait(Event& first, Event* second, std::uint32_t timeoutMs) {
    if (GetCurrentThreadId() == gLoaderThread) return WaitDeliveringMessages(first, second, timeoutMs);
    if (second) return WaitForEither(first, *second, timeoutMs);
    return first.Wait(timeoutMs) ? WaitResult::First : WaitResult::TimedOut;
}

void AttachHostThread(void (*runQueued)()) {
    gRunQueued = runQueued;
    const HINSTANCE module = gModule ? gModule : GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    gHostWindow = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
}

// Sent without waiting for it to be handled: the reader waits on its call's
// own completion event instead, which lets a close on another thread withdraw
// a call that the host thread has not run yet.
void NotifyHostThread() {
    if (gHostWindow) SendNotifyMessageA(gHostWindow, kRunQueuedMessage, 0, 0);
}

}  // namespace zentrok::platform

// Records the loading thread. On an unload by FreeLibrary on the host
// thread, the window goes too, so that no message reaches unloaded code.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    using namespace zentrok::platform;
    if (reason == DLL_PROCESS_ATTACH) {
        gModule = module;
        gLoaderThread = GetCurrentThreadId();
    } else if (reason == DLL_PROCESS_DETACH && !reserved && gHostWindow &&
               GetWindowThreadProcessId(gHostWindow, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(gHostWindow);
        UnregisterClassA(kWindowClass, module);
    }
    return TRUE;
}
