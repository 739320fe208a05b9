// The host thread's hidden window, the library's entry point, and the waits
// a host's call makes on the thread that loaded the library.
//
// The window is a message-only window of the system's "STATIC" class whose
// procedure is replaced by the library's own. It goes with its thread: once
// that thread has ended, the next qen_InitComm makes a new one, and until
// then the threads that poll run the queued calls themselves.
//
// The window's procedure and the readers are code of this library, so once
// the window exists the library pins itself in the process: a FreeLibrary
// with a port still open (a plug-in host that unloads, a finalization after
// an exception) then leaves the code in place instead of pulling it from
// under a running reader. The entry point therefore has nothing to undo at
// unload and does nothing that the loader lock forbids.
#include <windows.h>

#include <atomic>

#include "platform/platform.h"
#include "platform/win32/unwind_tables.h"

namespace zentrok::platform {
namespace {

constexpr char kWindowName[] = "ZentrokHostThread";
constexpr UINT kRunQueuedMessage = WM_APP + 1;

// Set on load; stays unset when the objects are linked into a program.
DWORD gLoaderThread = 0;  // no thread has the id 0

// Set by the host thread's qen_InitComm, before its reader starts.
std::atomic<HWND> gHostWindow{nullptr};
WNDPROC gSystemProc = nullptr;
HostThreadWork gRunQueued = nullptr;

// At most one notification is outstanding: it runs every call queued until
// it is handled, so more would only pile up in the host thread's queue.
std::atomic<bool> gNotified{false};

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kRunQueuedMessage) return CallWindowProcA(gSystemProc, window, message, wParam, lParam);
    gNotified = false;  // a call queued from now on sends a new notification
    // An exception cannot unwind through the window system's frames.
    try {
        gRunQueued();
    } catch (...) {
    }
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

// Makes a new window on the calling thread; one whose thread has ended is
// already gone with it. The library is pinned first: from now on the window
// system holds a pointer into it.
void AttachHostThread(HostThreadWork runQueued) {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&HostWindowProc), &self);
    gRunQueued = runQueued;
    const HWND window =
        CreateWindowExA(0, "STATIC", kWindowName, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window) return;
    gSystemProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HostWindowProc)));
    gNotified = false;
    gHostWindow = window;
}

// Still the window this library made: once its thread has ended, the handle
// may be reused by one of the host's own windows, which must get nothing.
bool HostThreadReachable() {
    const HWND window = gHostWindow;
    return window && IsWindow(window) &&
           GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&HostWindowProc);
}

// Sent without waiting for it to be handled: the reader waits on its call's
// own completion instead, which lets a close or a poll on another thread
// run or withdraw a call that the host thread has not run yet. A window
// whose thread has ended takes no notification; the polling threads then
// run the calls.
void NotifyHostThread() {
    const HWND window = gHostWindow;
    if (!HostThreadReachable() || gNotified.exchange(true)) return;
    if (!SendNotifyMessageA(window, kRunQueuedMessage, 0, 0)) gNotified = false;
}

}  // namespace zentrok::platform

// Records the loading thread and completes the unwinder's tables. An unload
// has nothing to undo: once a window could point into the library, the
// library is pinned and no longer unloads before the process ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    using namespace zentrok::platform;
    if (reason == DLL_PROCESS_ATTACH) {
        gLoaderThread = GetCurrentThreadId();
        RegisterUnwindTables();
    }
    return TRUE;
}
