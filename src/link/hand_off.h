// The meeting point of a port's reader thread and the host: the announced
// message, its queued entries, and the signal that the host took them all.
//
// Why the announcement runs on a host thread. A host polls qen_GetMsg and
// must see a message appear only between two of its own calls, never while
// one of them is copying the previous one; and the 7000 ms it has to take a
// message count from the moment it can first see it. So the reader does not
// publish the message itself: it queues an Announcement and waits until a
// host thread has run it (host_thread::Run). A host that has stopped polling
// then holds the reader before the message is visible, not halfway through.
//
// One notion of thread covers the host side: a host thread is any thread
// inside qen_GetMsg or qen_CloseComm, for any port; each runs the queued
// announcements first. On Windows one of them is also notified (the thread of
// the first open, through its hidden window), for a GUI host that only
// retrieves window messages between its polls; that is a way of waking a
// host thread, not another kind of one.
//
// The states of one hand-off, and who moves them:
//   decoded    the reader has the message and entries in its DecoderState;
//   queued     the reader has queued the Announcement and waits for it;
//   announced  a host thread ran it: Msg and Pending live here, MsgReady set;
//   draining   a host thread took Msg, entries are left (qen_GetMsg);
//   taken      a host thread took the last item: TakenEvent is set;
//   withdrawn  the reader ended the hand-off (Withdraw), after TakenEvent or
//              7000 ms, and acknowledges the telegram when it was taken.
// A close off the host threads cancels a queued Announcement (host_thread::
// Cancel), which goes from queued straight to withdrawn.
//
// One lock guards the announcement and the queue. The reader publishes a
// decoded telegram only through Announce, so a queue still being decoded is
// never visible; Withdraw ends each hand-off under the same lock, so it never
// overlaps a retrieval, decides there whether the host took everything, and
// clears the taken signal, so a retrieval that finished too late never counts
// for the next telegram. The lock and the taken signal only touch memory
// while the host answers promptly, so a hand-off costs no system call then.
#pragma once

#include <atomic>
#include <cstdint>

#include "decode/decoder_state.h"
#include "link/host_thread.h"
#include "platform/platform.h"
#include "zentrok.h"

namespace zentrok {

class HandOff {
public:
    HandOff() : TakenEvent(platform::Event::Mode::AutoReset) {}

    // Host thread: makes the decoded message and its entries deliverable and
    // moves the entries out of `state`.
    void Announce(DecoderState& state);

    // Reader: waits until the host has taken the message and every entry.
    bool WaitTaken(std::uint32_t timeoutMs) { return TakenEvent.Wait(timeoutMs); }

    // Reader: ends the hand-off; whatever was not taken is dropped. True when
    // the host had taken the message and every entry, also just as the wait
    // for it ran out: the lock decides, not the wait.
    bool Withdraw();

    // Host: copies the next item into `dest`. Returns false when there is
    // none, leaving `dest` untouched.
    bool Deliver(QenMsg& dest);

private:
    // With the lock held, after an item was taken: the last one signals.
    void SignalIfAllTaken();

    // The parts of the hand-off that the system's documentation names keep
    // those names: MsgReady, Msg, Pending and TakenEvent.
    platform::Lock lock_;
    std::atomic<bool> deliverable_{false};  // lets a polling host skip the lock
    bool MsgReady = false;                  // Msg waits for the host
    QenMsg Msg{};
    PendingQueue Pending;             // entries after Msg, oldest first
    std::uint16_t groupChannel_ = 0;  // Channel and Ident of the entries
    std::int32_t groupIdent_ = 0;
    bool allTaken_ = false;       // since the last Announce
    platform::Signal TakenEvent;  // set under the lock, which Withdraw then takes
};

// The host-thread half of a hand-off: run on a host thread, it makes the
// decoded message and its entries deliverable.
class Announcement final : public host_thread::Call {
public:
    Announcement(HandOff& handOff, DecoderState& decoded) : handOff_(handOff), decoded_(decoded) {}

private:
    void RunOnHostThread() override { handOff_.Announce(decoded_); }

    HandOff& handOff_;
    DecoderState& decoded_;
};

}  // namespace zentrok
