// Calls that a reader thread has run on the host thread, as the hand-off of
// each message requires. The thread of the process's first qen_InitComm is
// the host thread; it runs queued calls in qen_GetMsg, in qen_CloseComm's
// wait and, on Windows, when its hidden window is notified. Where the
// platform allows it (not on Windows), every other thread that polls or
// closes a port runs them too, so a host may poll from any thread.
#pragma once

#include <functional>

#include "platform/platform.h"

namespace zentrok::host_thread {

// One call that a reader may ask the host thread to run, again and again.
class Call {
public:
    explicit Call(std::function<void()> body) : body_(std::move(body)) {}
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    friend bool Run(Call& call);
    friend void Cancel(Call& call);
    friend void RunQueued();

    enum class State { Idle, Queued, Running, Ran, Withdrawn };

    std::function<void()> body_;
    platform::Event done_{platform::Event::Mode::ManualReset};
    State state_ = State::Idle;
    bool cancelled_ = false;
};

// Makes the calling thread the host thread, unless there already is one.
void Attach();

bool IsHostThread();

// Whether the calling thread may run queued calls: the host thread, or any
// thread where the platform lets them run anywhere.
bool MayRunQueued();

// Runs the call on the host thread and returns when it has run (true), or
// when it was cancelled before it started (false).
bool Run(Call& call);

// Withdraws the call if it waits for the host thread, and makes every later
// Run of it return false at once.
void Cancel(Call& call);

// Where MayRunQueued holds: runs every queued call. Several threads may do
// so at once; each call still runs once per Run.
void RunQueued();

// Set while calls wait for the host thread.
platform::Event& QueuedEvent();

}  // namespace zentrok::host_thread
