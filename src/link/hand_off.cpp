#include "link/hand_off.h"

#include <cstring>
#include <mutex>

namespace zentrok {
namespace {

// Only a-z change; every other byte is copied as it is.
void CopyUpper(char* dest, const char* src, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char c = src[i];
        dest[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
}

}  // namespace

void HandOff::Announce(DecoderState& state) {
    std::lock_guard<platform::Lock> guard(lock_);
    msg_ = state.Msg;
    groupChannel_ = state.GroupChannel;
    groupIdent_ = state.GroupIdent;
    pending_.TakeFrom(state.Pending);
    msgReady_ = true;
    deliverable_ = true;
}

void HandOff::Withdraw() {
    std::lock_guard<platform::Lock> guard(lock_);
    msgReady_ = false;
    pending_.Clear();
    deliverable_ = false;
    taken_.Reset();
}

bool HandOff::Deliver(QenMsg& dest) {
    if (!deliverable_) return false;
    std::lock_guard<platform::Lock> guard(lock_);
    if (!msgReady_ && !pending_.Empty()) {
        const PendingEntry& entry = pending_.Front();
        dest.Channel = groupChannel_;
        dest.Ident = groupIdent_;
        dest.Code.Length = 2;
        std::memcpy(dest.Code.Chars, entry.data(), 2);
        dest.Text.Length = 7;
        CopyUpper(dest.Text.Chars, entry.data() + 2, 7);
        pending_.PopFront();
        SignalIfAllTaken();
        return true;
    }
    if (!msgReady_) return false;

    dest.Number = msg_.Number;
    dest.Channel = msg_.Channel;
    dest.Ident = msg_.Ident;
    dest.Code.Length = msg_.Code.Length;
    std::memcpy(dest.Code.Chars, msg_.Code.Chars, msg_.Code.Length);
    dest.Text.Length = msg_.Text.Length;
    CopyUpper(dest.Text.Chars, msg_.Text.Chars, msg_.Text.Length);
    dest.Stamp = msg_.Stamp;
    msgReady_ = false;
    SignalIfAllTaken();
    return true;
}

void HandOff::SignalIfAllTaken() {
    if (!pending_.Empty()) return;
    deliverable_ = false;
    taken_.Set();
}

}  // namespace zentrok
