// Events as eventfd counters: set writes, reset and an auto-reset wait read.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

using Clock = std::chrono::steady_clock;

int Fd(const Event& event) { return static_cast<int>(event.Native()); }

// Clears the counter; false when another waiter got there first.
bool Consume(const Event& event) {
    eventfd_t value;
    return eventfd_read(Fd(event), &value) == 0;
}

// Milliseconds left until `deadline`, in poll's terms (-1 = no limit).
int Remaining(std::uint32_t timeoutMs, Clock::time_point deadline) {
    if (timeoutMs == kInfinite) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Polls up to two events; `ready` tells which may be signalled.
bool PollEvents(Event* const* events, int count, std::uint32_t timeoutMs, Clock::time_point deadline, bool* ready) {
    pollfd fds[2];
    for (int i = 0; i < count; ++i) fds[i] = {Fd(*events[i]), POLLIN, 0};
    for (;;) {
        const int result = poll(fds, static_cast<nfds_t>(count), Remaining(timeoutMs, deadline));
        if (result > 0) {
            for (int i = 0; i < count; ++i) ready[i] = (fds[i].revents & POLLIN) != 0;
            return true;
        }
        if (result == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

Event::Event(Mode mode) : mode_(mode), native_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Event::~Event() { close(Fd(*this)); }

void Event::Set() {
    set_ = true;
    eventfd_write(Fd(*this), 1);
}

void Event::Reset() {
    set_ = false;
    Consume(*this);
}

bool Event::Wait(std::uint32_t timeoutMs) {
    if (timeoutMs == 0 && mode_ == Mode::ManualReset) return set_.load();
    Event* self = this;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == kInfinite ? 0 : timeoutMs);
    bool ready = false;
    while (PollEvents(&self, 1, timeoutMs, deadline, &ready)) {
        if (mode_ == Mode::ManualReset || Consume(*this)) return true;
    }
    return false;
}

WaitResult WaitForEither(Event& first, Event& second, std::uint32_t timeoutMs) {
    Event* events[2] = {&first, &second};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == kInfinite ? 0 : timeoutMs);
    bool ready[2] = {false, false};
    while (PollEvents(events, 2, timeoutMs, deadline, ready)) {
        for (int i = 0; i < 2; ++i) {
            if (!ready[i]) continue;
            if (events[i]->GetMode() == Event::Mode::ManualReset || Consume(*events[i]))
                return i == 0 ? WaitResult::First : WaitResult::Second;
        }
    }
    return WaitResult::TimedOut;
}

WaitResult HostWait(Event& first, Event* second, std::uint32_t timeoutMs) {
    if (second) return WaitForEither(first, *second, timeoutMs);
    return first.Wait(timeoutMs) ? WaitResult::First : WaitResult::TimedOut;
}

// Queued calls run in the qen_GetMsg and qen_CloseComm of whichever thread
// makes them; there is no window to create or notify.
void AttachHostThread(HostThreadWork) {}
bool HostThreadReachable() { return true; }
void NotifyHostThread() {}

// A sleeping Signal waiter, and the Lock: the C++ runtime's mutex and
// condition variable, which take no system call until a thread has to sleep.
struct Signal::Sleeper {
    std::mutex lock;
    std::condition_variable woken;
};

Signal::Signal(Event::Mode mode) : mode_(mode), sleeper_(std::make_unique<Sleeper>()) {}
Signal::~Signal() = default;

bool Signal::Sleep(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(sleeper_->lock);
    if (timeoutMs == kInfinite) {
        sleeper_->woken.wait(guard, [this] { return Check(); });
        return true;
    }
    return sleeper_->woken.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return Check(); });
}

void Signal::WakeSleepers() {
    std::lock_guard<std::mutex> guard(sleeper_->lock);
    sleeper_->woken.notify_all();
}

struct Lock::Native {
    std::mutex mutex;
};

Lock::Lock() : native_(std::make_unique<Native>()) {}
Lock::~Lock() = default;
void Lock::lock() { native_->mutex.lock(); }
void Lock::unlock() { native_->mutex.unlock(); }

}  // namespace zentrok::platform
