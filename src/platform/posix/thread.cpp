// Driver threads on std::thread. A POSIX system has no loader lock that a
// thread's end would need, so a thread whose body has returned is joined.
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace zentrok::platform {

struct Thread::Impl {
    std::thread thread;
    Event returned{Event::Mode::ManualReset};
};

std::unique_ptr<Thread> Thread::Start(Body body, void* argument) {
    auto impl = std::make_unique<Impl>();
    Impl* started = impl.get();
    try {
        impl->thread = std::thread([=] {
            body(argument);
            started->returned.Set();
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::Thread(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

// A thread still running keeps its Impl: it signals it when its body returns.
Thread::~Thread() {
    if (WaitEnded(0)) return;
    impl_->thread.detach();
    impl_.release();
}

Event& Thread::BodyReturned() { return impl_->returned; }

bool Thread::WaitEnded(std::uint32_t timeoutMs) {
    if (!impl_->thread.joinable()) return true;
    if (!impl_->returned.Wait(timeoutMs)) return false;
    impl_->thread.join();  // only the return from the lambda is left
    return true;
}

}  // namespace zentrok::platform
