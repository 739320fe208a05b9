// Entries of a multi-entry (type "S") telegram.
#pragma once

#include "decode/decoder_state.h"

namespace zentrok {

// Consumes the next entry from the front of context.Telegram (at least one
// character). The first entry that yields output is placed in state.Msg;
// further ones are appended to state.Pending.
void ParseEntry(DecoderState& state, DecodeContext& context);

}  // namespace zentrok
