// Calls that a reader thread has run on a host thread, as the hand-off of
// each message requires. Every thread that calls qen_GetMsg or
// qen_CloseComm runs the queued calls there, on every platform, so a host
// may poll from any thread. The thread of the first qen_InitComm that opens
// a port (or, once that thread has ended, of the next one) is also
// notified: on Windows its hidden window runs the queued calls for a GUI
// host that only retrieves window messages.
//
// A call that the host answers at once costs no system call: the queue and
// the call's completion live in memory, and only a reader that has to wait
// longer than a brief check notifies the host thread and sleeps.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zentrok::host_thread {

// Work that a reader asks a host thread to run, again and again: a port's
// Announcement (hand_off.h) is the one the driver has.
class Call {
public:
    Call() = default;
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

protected:
    ~Call() = default;

private:
    friend bool Run(Call& call);
    friend void Cancel(Call& call);
    friend void RunQueued();

    // Runs on a host thread, inside its qen_GetMsg or qen_CloseComm (or,
    // on Windows, in its hidden window's procedure).
    virtual void RunOnHostThread() = 0;

    enum class State { Idle, Queued, Running, Ran, Withdrawn };

    platform::Signal done_{platform::Event::Mode::ManualReset};
    State state_ = State::Idle;
    bool cancelled_ = false;
};

// Makes the calling thread the host thread, unless there is one that can
// still be notified.
void Attach();

// Whether the calling thread is the one Attach made the host thread.
bool IsHostThread();

// Runs the call on a host thread and returns when it has run (true), or
// when it was cancelled before it started (false).
bool Run(Call& call);

// Withdraws the call if it waits for a host thread, and makes every later
// Run of it return false at once.
void Cancel(Call& call);

// Runs every queued call. Several threads may do so at once; each call
// still runs once per Run.
void RunQueued();

// Runs queued calls until `done` is set or `timeoutMs` passes, sleeping in
// between: the wait of a closing host. True when `done` was set.
bool RunQueuedUntil(platform::Event& done, std::uint32_t timeoutMs);

// Set while calls wait for a host thread. A hook for tests only (the
// reliability tests wait on it to see a hand-off queued); the driver itself
// never calls it.
platform::Signal& QueuedSignal();

}  // namespace zentrok::host_thread
