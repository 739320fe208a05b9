// What becomes of one telegram once it has been read: it is decoded, what it
// produced is announced to the host, the host takes it item by item, the
// hand-off is withdrawn and the telegram acknowledged. The reader does this
// with a host thread and a wait; the monitor's replay and the tests that
// mirror a port do it directly. All of them go through HandOverTelegram, so
// what they see is what a host receives.
#pragma once

#include "decode/telegram_decoder.h"
#include "link/hand_off.h"
#include "zentrok.h"

namespace zentrok {

// What became of a telegram: nothing for the host, or a message the host
// took in time (acknowledged) or did not (withdrawn, no ACK).
enum class Handed { Nothing, Taken, NotTaken };

// Decodes context.Telegram and hands the message and its entries over.
// `announce()` makes them deliverable through `handOff` and returns false
// when the announcement was cancelled; `awaitTaken()` waits until the host
// has taken every item or the time is up. `sendAck` writes one ACK byte.
template <typename Announce, typename AwaitTaken>
Handed HandOverTelegram(DecoderState& state, DecodeContext& context, HandOff& handOff, const SendAckFn& sendAck,
                        Announce announce, AwaitTaken awaitTaken) {
    if (!DecodeTelegram(state, context, sendAck)) {
        // Nothing for the host: acknowledged at once. A registration (type
        // "0") has already been answered by the decoder through `sendAck`,
        // so it gets two ACK bytes, the decoder's and this one. Both are
        // meant: the decoder answers the registration itself, and this ACK
        // answers every telegram that leaves nothing for the host, so a
        // device sees two bytes for a registration where any other telegram
        // without a message gets one, as it always has.
        sendAck();
        return Handed::Nothing;
    }
    // An ACK for a telegram with a message says that the host has taken it.
    // Whether it has is decided when the hand-off ends, under its lock: a
    // last item taken just as the wait ran out still counts.
    if (announce()) awaitTaken();
    const bool taken = handOff.Withdraw();
    if (taken) sendAck();
    return taken ? Handed::Taken : Handed::NotTaken;
}

// HandOverTelegram without a host thread or a wait: the items go to
// `take(const QenMsg&)` in the order a polling host receives them, each
// written onto a copy of `blank`, as qen_GetMsg writes onto the host's record.
template <typename Take>
Handed ReplayTelegram(DecoderState& state, DecodeContext& context, HandOff& handOff, const SendAckFn& sendAck,
                      const QenMsg& blank, Take take) {
    return HandOverTelegram(
        state, context, handOff, sendAck,
        [&] {
            handOff.Announce(state);
            return true;
        },
        [&] {
            for (QenMsg item = blank; handOff.Deliver(item); item = blank) take(item);
            return true;
        });
}

}  // namespace zentrok
