// The meeting point of a port's reader thread and the host: the announced
// message, its queued entries, and the signal that the host took them all.
//
// One lock guards the announcement and the queue. The reader publishes a
// decoded telegram only through Announce (run on the host thread), so a
// queue still being decoded is never visible; Withdraw ends each hand-off
// under the same lock, so it never overlaps a retrieval; and it clears the
// taken signal, so a retrieval that finished too late never counts for the
// next telegram. The lock and the taken signal only touch memory while the
// host answers promptly, so a hand-off costs no system call then.
#pragma once

#include <atomic>
#include <cstdint>

#include "decode/decoder_state.h"
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

}  // namespace zentrok
