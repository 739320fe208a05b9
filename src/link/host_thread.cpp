#include "link/host_thread.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

namespace zentrok::host_thread {
namespace {

struct HostThread {
    std::once_flag attached;
    std::atomic<platform::ThreadId> id{0};
    std::mutex lock;
    std::deque<Call*> queue;
    std::atomic<bool> anyQueued{false};  // lets a polling host skip the lock
    platform::Event queued{platform::Event::Mode::ManualReset};
};

// Lives as long as the process: reader threads may still use it at exit.
HostThread& Host() {
    static HostThread* host = new HostThread;
    return *host;
}

}  // namespace

void Attach() {
    HostThread& host = Host();
    std::call_once(host.attached, [&host] {
        host.id = platform::CurrentThreadId();
        platform::AttachHostThread(&RunQueued);
    });
}

bool IsHostThread() { return Host().id.load() == platform::CurrentThreadId(); }

bool MayRunQueued() { return platform::QueuedCallsRunOnAnyThread() || IsHostThread(); }

bool Run(Call& call) {
    HostThread& host = Host();
    {
        std::lock_guard<std::mutex> guard(host.lock);
        if (call.cancelled_) return false;
        call.state_ = Call::State::Queued;
        call.done_.Reset();
        host.queue.push_back(&call);
        host.anyQueued = true;
        host.queued.Set();
    }
    platform::NotifyHostThread();
    platform::SpinThenWait(call.done_, platform::kInfinite);
    std::lock_guard<std::mutex> guard(host.lock);
    return call.state_ == Call::State::Ran;
}

void Cancel(Call& call) {
    HostThread& host = Host();
    std::lock_guard<std::mutex> guard(host.lock);
    call.cancelled_ = true;
    if (call.state_ != Call::State::Queued) return;
    host.queue.erase(std::find(host.queue.begin(), host.queue.end(), &call));
    if (host.queue.empty()) {
        host.anyQueued = false;
        host.queued.Reset();
    }
    call.state_ = Call::State::Withdrawn;
    call.done_.Set();
}

void RunQueued() {
    HostThread& host = Host();
    // A call queued right after this check is run by the next poll.
    if (!host.anyQueued.load()) return;
    for (;;) {
        Call* call = nullptr;
        {
            std::lock_guard<std::mutex> guard(host.lock);
            if (host.queue.empty()) {
                host.anyQueued = false;
                host.queued.Reset();
                return;
            }
            call = host.queue.front();
            host.queue.pop_front();
            call->state_ = Call::State::Running;
        }
        call->body_();
        // Signalled under the lock, as Cancel does: the reader takes the lock
        // after its wait, so whatever it does next, up to the port's end and
        // the call's destruction, comes after this last touch of the call.
        {
            std::lock_guard<std::mutex> guard(host.lock);
            call->state_ = Call::State::Ran;
            call->done_.Set();
        }
    }
}

platform::Event& QueuedEvent() { return Host().queued; }

}  // namespace zentrok::host_thread
