#include "link/host_thread.h"

#include <algorithm>
#include <deque>
#include <mutex>

namespace zentrok::host_thread {
namespace {

struct HostThread {
    std::once_flag attached;
    platform::ThreadId id = 0;
    std::mutex lock;
    std::deque<Call*> queue;
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
        std::lock_guard<std::mutex> guard(host.lock);
        host.id = platform::CurrentThreadId();
        platform::AttachHostThread(&RunQueued);
    });
}

bool IsHostThread() {
    HostThread& host = Host();
    const platform::ThreadId me = platform::CurrentThreadId();
    std::lock_guard<std::mutex> guard(host.lock);
    return host.id == me;
}

bool Run(Call& call) {
    HostThread& host = Host();
    {
        std::lock_guard<std::mutex> guard(host.lock);
        if (call.cancelled_) return false;
        call.state_ = Call::State::Queued;
        call.done_.Reset();
        host.queue.push_back(&call);
        host.queued.Set();
    }
    platform::NotifyHostThread();
    call.done_.Wait(platform::kInfinite);
    std::lock_guard<std::mutex> guard(host.lock);
    return call.state_ == Call::State::Ran;
}

void Cancel(Call& call) {
    HostThread& host = Host();
    std::lock_guard<std::mutex> guard(host.lock);
    call.cancelled_ = true;
    if (call.state_ != Call::State::Queued) return;
    host.queue.erase(std::find(host.queue.begin(), host.queue.end(), &call));
    call.state_ = Call::State::Withdrawn;
    call.done_.Set();
}

void RunQueued() {
    HostThread& host = Host();
    for (;;) {
        Call* call = nullptr;
        {
            std::lock_guard<std::mutex> guard(host.lock);
            if (host.queue.empty()) {
                host.queued.Reset();
                return;
            }
            call = host.queue.front();
            host.queue.pop_front();
            call->state_ = Call::State::Running;
        }
        call->body_();
        {
            std::lock_guard<std::mutex> guard(host.lock);
            call->state_ = Call::State::Ran;
        }
        // The reader may go on and even end once this is set: last touch.
        call->done_.Set();
    }
}

platform::Event& QueuedEvent() { return Host().queued; }

}  // namespace zentrok::host_thread
