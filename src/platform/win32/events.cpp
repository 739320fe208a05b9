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

void Event::Set() { SetEvent(Handle(*this)); }

void Event::Reset() { ResetEvent(Handle(*this)); }

bool Event::Wait(std::uint32_t timeoutMs) { return WaitForSingleObject(Handle(*this), timeoutMs) == WAIT_OBJECT_0; }

// When both are signalled the wait reports the lower index: `first` wins.
WaitResult WaitForEither(Event& first, Event& second, std::uint32_t timeoutMs) {
    const HANDLE events[2] = {Handle(first), Handle(second)};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0: return WaitResult::First;
        case WAIT_OBJECT_0 + 1: return WaitResult::Second;
        default: return WaitResult::TimedOut;
    }
}

ThreadId CurrentThreadId() { return GetCurrentThreadId(); }

// The hidden window, and so every queued call, belongs to the host thread.
bool QueuedCallsRunOnAnyThread() { return false; }

}  // namespace zentrok::platform
