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
    Msg = state.Msg;
    groupChannel_ = state.GroupChannel;
    groupIdent_ = state.GroupIdent;
    Pending.TakeFrom(state.Pending);
    MsgReady = true;
    allTaken_ = false;
    deliverable_ = true;
}

bool HandOff::Withdraw() {
    std::lock_guard<platform::Lock> guard(lock_);
    const bool taken = allTaken_;
    allTaken_ = false;
    MsgReady = false;
    Pending.Clear();
    deliverable_ = false;
    TakenEvent.Reset();
    return taken;
}

bool HandOff::Deliver(QenMsg& dest) {
    if (!deliverable_) return false;
    std::lock_guard<platform::Lock> guard(lock_);
    if (!MsgReady && !Pending.Empty()) {
        const PendingEntry& entry = Pending.Front();
        dest.Channel = groupChannel_;
        dest.Ident = groupIdent_;
        dest.Code.Length = 2;
        std::memcpy(dest.Code.Chars, entry.data(), 2);
        dest.Text.Length = 7;
        CopyUpper(dest.Text.Chars, entry.data() + 2, 7);
        Pending.PopFront();
        SignalIfAllTaken();
        return true;
    }
    if (!MsgReady) return false;

    dest.Number = Msg.Number;
    dest.Channel = Msg.Channel;
    dest.Ident = Msg.Ident;
    dest.Code.Length = Msg.Code.Length;
    std::memcpy(dest.Code.Chars, Msg.Code.Chars, Msg.Code.Length);
    dest.Text.Length = Msg.Text.Length;
    CopyUpper(dest.Text.Chars, Msg.Text.Chars, Msg.Text.Length);
    dest.Stamp = Msg.Stamp;
    MsgReady = false;
    SignalIfAllTaken();
    return true;
}

void HandOff::SignalIfAllTaken() {
    if (!Pending.Empty()) return;
    deliverable_ = false;
    allTaken_ = true;
    TakenEvent.Set();
}

}  // namespace zentrok
