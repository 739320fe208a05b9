// State the decoder keeps per port, and the working storage of one telegram.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decode/short_string.h"
#include "zentrok.h"

namespace zentrok {

// Longest telegram: one read of the port takes it with its end character.
inline constexpr std::size_t kMaxTelegramLength = 249;
inline constexpr int kChannelCount = 16;
inline constexpr std::uint16_t kNoStamp = QEN_NO_STAMP;

// A queued entry: the 2-character entry number, then the text right-aligned
// in 7 characters.
using PendingEntry = std::array<char, 9>;

// Entries of one multi-entry telegram, oldest first. Every entry consumes at
// least one character of the telegram, so a telegram never queues more than
// kMaxTelegramLength of them.
class PendingQueue {
public:
    static constexpr std::size_t kCapacity = kMaxTelegramLength;

    bool Empty() const { return head_ == count_; }
    const PendingEntry& Front() const { return items_[head_]; }
    void PopFront() { ++head_; }
    void Clear() { head_ = count_ = 0; }

    void Push(const PendingEntry& entry) {
        if (count_ < kCapacity) items_[count_++] = entry;
    }

    // Takes over the entries of `other`, leaving it empty.
    void TakeFrom(PendingQueue& other) {
        Clear();
        for (std::size_t i = other.head_; i < other.count_; ++i) items_[count_++] = other.items_[i];
        other.Clear();
    }

private:
    std::array<PendingEntry, kCapacity> items_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

// Decoder state of a port, kept between telegrams. Zero-filled when the port
// is opened.
//
// The Group fields belong to the entries of one multi-entry telegram and
// start afresh with each telegram. An entry that opens with a kind
// character sets GroupKind and clears GroupCode; under kind E or N, an entry
// that opens with a code sets GroupCode. An entry without them carries on
// with the kind and code of the entry before it.
struct DecoderState {
    QenMsg Msg{};              // the current decoded message
    char GroupKind = 0;        // kind in force for the current entry; blank = none yet
    ShortString<2> GroupCode;  // code in force for the current entry; empty = none
    PendingQueue Pending;      // further entries, built while decoding
    // Channel and Ident of the telegram, saved when its first entry was
    // placed in Msg; the host receives them with each queued entry.
    // GroupIdent is -1 until then.
    std::uint16_t GroupChannel = 0;
    std::int32_t GroupIdent = 0;
    bool GroupPlaced = false;                                  // an entry of this telegram stands in Msg
    std::array<ShortString<2>, kChannelCount> ChannelCodes{};  // registered code per channel
    std::array<std::int32_t, kChannelCount> ChannelIdents{};   // registered ident per channel; 0 = none

    void ClearChannelMemory() {
        for (auto& code : ChannelCodes) code.Length = 0;
        ChannelIdents.fill(0);
    }
};

using UtcClock = QenSystemTime (*)();

// Working storage for one telegram.
struct DecodeContext {
    ShortString<255> Telegram;  // consumed by the decoder as it goes
    ShortString<255> Work;      // scratch: fields are copied here for conversion
    ShortString<2> EntryCode;   // entry number register of a multi-entry telegram
    bool Produced = false;      // a message stands in Msg
    UtcClock Clock = nullptr;   // current UTC date and time, for time stamps
};

}  // namespace zentrok
