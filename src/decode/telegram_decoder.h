// Decodes one received telegram into the port's message and queued entries.
#pragma once

#include <cstddef>
#include <functional>

#include "decode/decoder_state.h"

namespace zentrok {

// Writes one ACK byte to the port; the decoder uses it for type "0".
using SendAckFn = std::function<void()>;

// Decodes context.Telegram (1..249 characters). Returns true when a message
// stands in state.Msg for the host, with further entries in state.Pending.
bool DecodeTelegram(DecoderState& state, DecodeContext& context, const SendAckFn& sendAck);

// A step of DecodeTelegram, declared here for its unit tests only
// (tests/decode/conversions_test.cpp); nothing outside the decoder calls it.
// Copies `count` characters of the telegram from 1-based `pos` into Work,
// positions past the end reading as NUL, then drops leading blanks.
void CopyField(DecodeContext& context, std::size_t pos, std::size_t count);

}  // namespace zentrok
