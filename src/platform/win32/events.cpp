// Events as Windows event objects.
#include <windows.h>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

static_assert(kInfinite == INFINITE);

HANDLE Handle(const Event& event) { return reinterpret_cast<HANDLE>(event.Native()); }

}  // namespace

Event::Event(Mode mode)
    : mode_(mode),
      native_(reinterpret_cast<std::intptr_t>(CreateEventA(nullptr, mode == Mode::ManualReset, FALSE, nullptr))) {}

Event::~Event() { CloseHandle(Handle(*this)); }

void Event::Set() {
    set_ = true;
    SetEvent(Handle(*this));
}

void Event::Reset() {
    set_ = false;
    ResetEvent(Handle(*this));
}

bool Event::Wait(std::uint32_t timeoutMs) {
    if (timeoutMs == 0 && mode_ == Mode::ManualReset) return set_.load();
    return WaitForSingleObject(Handle(*this), timeoutMs) == WAIT_OBJECT_0;
}

// When both are signalled the wait reports the lower index: `first` wins.
WaitResult WaitForEither(Event& first, Event& second, std::uint32_t timeoutMs) {
    const HANDLE events[2] = {Handle(first), Handle(second)};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0: return WaitResult::First;
        case WAIT_OBJECT_0 + 1: return WaitResult::Second;
        default: return WaitResult::TimedOut;
    }
}

// A sleeping Signal waiter, and the Lock: a slim reader/writer lock and a
// condition variable, which take no system call until a thread has to sleep
// (and then, under Wine, a futex rather than a request to the Wine server).
struct Signal::Sleeper {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE woken = CONDITION_VARIABLE_INIT;
};

Signal::Signal(Event::Mode mode) : mode_(mode), sleeper_(std::make_unique<Sleeper>()) {}
Signal::~Signal() = default;

bool Signal::Sleep(std::uint32_t timeoutMs) {
    AcquireSRWLockExclusive(&sleeper_->lock);
    const DWORD start = GetTickCount();
    bool taken = Check();
    while (!taken) {
        const DWORD elapsed = GetTickCount() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) break;
        const DWORD left = timeoutMs == INFINITE ? INFINITE : timeoutMs - elapsed;
        SleepConditionVariableSRW(&sleeper_->woken, &sleeper_->lock, left, 0);
        taken = Check();
    }
    ReleaseSRWLockExclusive(&sleeper_->lock);
    return taken;
}

void Signal::WakeSleepers() {
    AcquireSRWLockExclusive(&sleeper_->lock);
    WakeAllConditionVariable(&sleeper_->woken);
    ReleaseSRWLockExclusive(&sleeper_->lock);
}

struct Lock::Native {
    SRWLOCK lock = SRWLOCK_INIT;
};

Lock::Lock() : native_(std::make_unique<Native>()) {}
Lock::~Lock() = default;
void Lock::lock() { AcquireSRWLockExclusive(&native_->lock); }
void Lock::unlock() { ReleaseSRWLockExclusive(&native_->lock); }

}  // namespace zentrok::platform
