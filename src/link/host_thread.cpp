#include "link/host_thread.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>

namespace zentrok::host_thread {
namespace {

struct HostThread {
    std::mutex attachLock;
    bool attached = false;
    platform::Lock lock;
    std::deque<Call*> queue;
    platform::Signal queued{platform::Event::Mode::ManualReset};
    // Closing hosts sleeping in RunQueuedUntil; only then does a Run wake
    // one of them through a kernel event.
    int closers = 0;
    platform::Event closerWake{platform::Event::Mode::AutoReset};
};

// Lives as long as the process: reader threads may still use it at exit.
HostThread& Host() {
    static HostThread* host = new HostThread;
    return *host;
}

// A flag of the thread itself, not its id: a later thread that gets the id
// of one that has ended is not the host thread.
thread_local bool tIsHostThread = false;

}  // namespace

void Attach() {
    HostThread& host = Host();
    std::lock_guard<std::mutex> guard(host.attachLock);
    if (host.attached && platform::HostThreadReachable()) return;
    host.attached = true;
    tIsHostThread = true;
    platform::AttachHostThread(&RunQueued);
}

bool IsHostThread() { return tIsHostThread; }

// A host that polls runs the call within the reader's brief check; only a
// reader that would wait longer notifies the host thread.
bool Run(Call& call) {
    HostThread& host = Host();
    {
        std::lock_guard<platform::Lock> guard(host.lock);
        if (call.cancelled_) return false;
        host.queue.push_back(&call);
        call.state_ = Call::State::Queued;
        call.done_.Reset();
        host.queued.Set();
        if (host.closers > 0) host.closerWake.Set();
    }
    if (!call.done_.Wait(0)) {
        platform::NotifyHostThread();
        call.done_.Wait(platform::kInfinite);
    }
    // Whoever ended the call signalled it under the lock: once the lock is
    // taken here, nothing touches the call any more.
    std::lock_guard<platform::Lock> guard(host.lock);
    return call.state_ == Call::State::Ran;
}

void Cancel(Call& call) {
    HostThread& host = Host();
    std::lock_guard<platform::Lock> guard(host.lock);
    call.cancelled_ = true;
    if (call.state_ != Call::State::Queued) return;
    host.queue.erase(std::find(host.queue.begin(), host.queue.end(), &call));
    if (host.queue.empty()) host.queued.Reset();
    call.state_ = Call::State::Withdrawn;
    call.done_.Set();
}

void RunQueued() {
    HostThread& host = Host();
    // A call queued right after this check is run by the next poll.
    if (!host.queued.Check()) return;
    for (;;) {
        Call* call = nullptr;
        {
            std::lock_guard<platform::Lock> guard(host.lock);
            if (host.queue.empty()) {
                host.queued.Reset();
                return;
            }
            call = host.queue.front();
            host.queue.pop_front();
            call->state_ = Call::State::Running;
        }
        // A call that fails counts as withdrawn: its reader goes on without
        // an acknowledgement, and the thread that ran it goes on too.
        bool ran = true;
        try {
            call->RunOnHostThread();
        } catch (...) {
            ran = false;
        }
        std::lock_guard<platform::Lock> guard(host.lock);
        call->state_ = ran ? Call::State::Ran : Call::State::Withdrawn;
        call->done_.Set();
    }
}

bool RunQueuedUntil(platform::Event& done, std::uint32_t timeoutMs) {
    HostThread& host = Host();
    {
        std::lock_guard<platform::Lock> guard(host.lock);
        ++host.closers;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    platform::WaitResult woken;
    // A call queued after the run below wakes this wait through closerWake.
    do {
        RunQueued();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        woken =
            platform::HostWait(done, &host.closerWake, left.count() > 0 ? static_cast<std::uint32_t>(left.count()) : 0);
    } while (woken == platform::WaitResult::Second);
    std::lock_guard<platform::Lock> guard(host.lock);
    --host.closers;
    return woken == platform::WaitResult::First;
}

platform::Signal& QueuedSignal() { return Host().queued; }

}  // namespace zentrok::host_thread
