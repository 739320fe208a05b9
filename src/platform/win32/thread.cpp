// Driver threads on CreateThread, with their handle kept.
//
// A thread's end is two things on Windows. Its body returning is told by an
// event that the thread sets right after it. Its exit comes later: it runs
// every DLL's DLL_THREAD_DETACH under the loader lock, so a thread that a
// DllMain waits for (a host that closes a port from its own DLL's unload)
// cannot exit before that DllMain returns, and a join there never returns.
// The other way round, ExitProcess ends every other thread before the DLLs
// are told of the process's detach, so a thread then never gets to set its
// event; its handle, which the system signals once the thread has ended
// however it ended, tells that instead. WaitEnded therefore waits for
// either, and the object never joins.
//
// The record the thread uses (its body, the event, the handle) is shared
// by the thread and the object, and whichever lets go of it last frees it:
// an object that goes before its thread has finished leaves the record to
// the thread, which frees it once its body has returned and the event is
// set. A thread the system ended never lets go; its record is freed by the
// object once the handle tells that the thread is gone, or left with the
// process that is ending.
#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/platform.h"

namespace zentrok::platform {

struct Thread::Impl {
    Body body = nullptr;
    void* argument = nullptr;
    Event returned{Event::Mode::ManualReset};
    HANDLE thread = nullptr;
    std::atomic<int> holders{2};  // the thread and the object

    ~Impl() {
        if (thread) CloseHandle(thread);
    }

    // Lets go of the record; the last holder frees it.
    static void Release(Impl* impl) {
        if (impl->holders.fetch_sub(1) == 1) delete impl;
    }
};

namespace {

// Nothing of the record is touched after Release: the object may free it
// as soon as the event is set.
DWORD WINAPI RunBody(void* record) {
    auto* impl = static_cast<Thread::Impl*>(record);
    impl->body(impl->argument);
    impl->returned.Set();
    Thread::Impl::Release(impl);
    return 0;
}

}  // namespace

std::unique_ptr<Thread> Thread::Start(Body body, void* argument) {
    auto impl = std::make_unique<Impl>();
    impl->body = body;
    impl->argument = argument;
    impl->thread = CreateThread(nullptr, 0, &RunBody, impl.get(), 0, nullptr);
    if (!impl->thread) return nullptr;
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::Thread(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

// Never waits: a thread that has not ended frees the record itself.
Thread::~Thread() {
    Impl* impl = impl_.release();
    if (WaitForSingleObject(impl->thread, 0) == WAIT_OBJECT_0)
        delete impl;  // gone, also when the system ended it before its Release
    else
        Impl::Release(impl);
}

Event& Thread::BodyReturned() { return impl_->returned; }

bool Thread::WaitEnded(std::uint32_t timeoutMs) {
    const HANDLE ends[2] = {reinterpret_cast<HANDLE>(impl_->returned.Native()), impl_->thread};
    const DWORD result = WaitForMultipleObjects(2, ends, FALSE, timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1;
}

}  // namespace zentrok::platform
