// The host thread's hidden window, the library's entry point, and the waits
// a host's call makes on the thread that loaded the library.
//
// The window is a message-only window of the system's "STATIC" class whose
// procedure is replaced by the library's own. Nothing of the window system
// then points into the library except that one procedure, which the unload
// hands back: a notification still queued for the host thread when the
// library goes, on whichever thread, reaches the system's procedure.
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

// Set once by the host thread's first qen_InitComm, before any reader starts.
HWND gHostWindow = nullptr;
WNDPROC gSystemProc = nullptr;
void (*gRunQueued)() = nullptr;

// At most one notification is outstanding: it runs every call queued until
// it is handled, so more would only pile up in the host thread's queue.
std::atomic<bool> gNotified{false};

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kRunQueuedMessage) return CallWindowProcA(gSystemProc, window, message, wParam, lParam);
    gNotified = false;  // a call queued from now on sends a new notification
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
    gHostWindow = CreateWindowExA(0, "STATIC", kWindowName, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!gHostWindow) return;
    gSystemProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(gHostWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HostWindowProc)));
}

// Sent without waiting for it to be handled: the reader waits on its call's
// own completion event instead, which lets a close on another thread withdraw
// a call that the host thread has not run yet.
void NotifyHostThread() {
    if (!gHostWindow || gNotified.exchange(true)) return;
    if (!SendNotifyMessageA(gHostWindow, kRunQueuedMessage, 0, 0)) gNotified = false;
}

}  // namespace zentrok::platform

// Records the loading thread and completes the unwinder's tables. An unload by FreeLibrary hands the window its
// system procedure back and has it destroyed: at once on the host thread,
// otherwise by the close request it finds in its queue.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    using namespace zentrok::platform;
    if (reason == DLL_PROCESS_ATTACH) {
        gLoaderThread = GetCurrentThreadId();
        RegisterUnwindTables();
    } else if (reason == DLL_PROCESS_DETACH && !reserved && gHostWindow) {
        SetWindowLongPtrA(gHostWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gSystemProc));
        if (GetWindowThreadProcessId(gHostWindow, nullptr) == GetCurrentThreadId())
            DestroyWindow(gHostWindow);
        else
            PostMessageA(gHostWindow, WM_CLOSE, 0, 0);
        gHostWindow = nullptr;
    }
    return TRUE;
}
