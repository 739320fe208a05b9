// A reader thread hands telegram after telegram to a host thread that polls
// for items, as a port does. Each item names its telegram and its place in
// it, so the host can tell a repeated, reordered or stray item.
//
// The host treats telegrams in three ways, chosen by sequence number:
//   prompt    - it takes every item at once; the reader waits long.
//   abandoned - it takes all but the last item; the reader waits briefly.
//   late      - it takes all but the last item, and reaches for the last one
//               only once the reader's wait has ended, racing its withdrawal.
// A taken signal must be seen exactly for the prompt ones; a late signal
// that survived the withdrawal would show up at the next abandoned one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/hand_off.h"
#include "link/host_thread.h"

namespace zentrok {
namespace {

constexpr int kTelegrams = 300;
constexpr std::uint32_t kPatientWaitMs = 10000;
constexpr std::uint32_t kBriefWaitMs = 10;

enum class Treatment { Prompt, Abandoned, Late };

// Late is followed by abandoned in each cycle, so a surviving signal shows.
Treatment TreatmentOf(int seq) {
    switch (seq % 5) {
        case 1: return Treatment::Late;
        case 2: return Treatment::Abandoned;
        case 4: return Treatment::Late;
        default: return Treatment::Prompt;
    }
}

int EntryCountOf(int seq) { return seq % 4; }
int ItemCountOf(int seq) { return EntryCountOf(seq) + 1; }

// Seven decimal digits of the sequence number, as Text carries it.
std::string SeqText(int seq) {
    char text[12];
    std::snprintf(text, sizeof text, "%07d", seq % 10000000);
    return text;
}

// Telegram `seq`: the message has Code "00", each entry its index as Code;
// Number, Ident and every Text carry the sequence number.
void BuildTelegram(DecoderState& state, int seq) {
    const std::string text = SeqText(seq);
    state.Pending.Clear();
    state.Msg.Number = seq;
    state.Msg.Channel = static_cast<std::uint16_t>(seq % 16);
    state.Msg.Ident = seq;
    state.Msg.Code = {2, {'0', '0'}};
    state.Msg.Text.Length = 7;
    std::memcpy(state.Msg.Text.Chars, text.data(), 7);
    state.GroupChannel = state.Msg.Channel;
    state.GroupIdent = seq;
    for (int index = 1; index <= EntryCountOf(seq); ++index) {
        PendingEntry entry;
        entry[0] = '0';
        entry[1] = static_cast<char>('0' + index);
        std::memcpy(entry.data() + 2, text.data(), 7);
        state.Pending.Push(entry);
    }
}

struct HostSide {
    std::vector<int> taken = std::vector<int>(kTelegrams, 0);  // items taken per telegram
    std::vector<std::string> errors;

    void Check(bool ok, const std::string& what) {
        if (!ok && errors.size() < 20) errors.push_back(what);
    }

    // Checks one delivered item against the telegram announced last.
    void Record(const QenMsg& item, int announced) {
        const int seq = item.Ident;
        const std::string where = "telegram " + std::to_string(announced) + ": ";
        Check(seq == announced, where + "item of telegram " + std::to_string(seq));
        if (seq != announced) return;
        const int index = (item.Code.Chars[0] - '0') * 10 + (item.Code.Chars[1] - '0');
        Check(index == taken[seq], where + "item " + std::to_string(index) + " in place " + std::to_string(taken[seq]));
        Check(std::string(item.Text.Chars, 7) == SeqText(seq), where + "text of another telegram");
        Check(item.Channel == seq % 16, where + "channel of another telegram");
        if (index == 0) Check(item.Number == seq, where + "number of another telegram");
        ++taken[seq];
    }
};

TEST(HandOffConcurrency, ReaderAndPollingHostAgreeOnEveryTelegram) {
    host_thread::Attach();  // this thread is the host thread
    HandOff handOff;
    std::vector<bool> waitSucceeded(kTelegrams, false);
    std::atomic<int> waitEnded{-1};  // last telegram whose taken wait is over
    std::atomic<bool> readerDone{false};
    int announced = -1;  // written only on the host thread, by the announcement

    std::vector<bool> announceRan(kTelegrams, false);

    std::thread reader([&] {
        DecoderState state;
        int seq = 0;
        struct NumberedAnnouncement final : host_thread::Call {
            HandOff& handOff;
            DecoderState& state;
            int& seq;
            int& announced;
            NumberedAnnouncement(HandOff& h, DecoderState& s, int& q, int& a)
                : handOff(h), state(s), seq(q), announced(a) {}
            void RunOnHostThread() override {
                handOff.Announce(state);
                announced = seq;
            }
        } announce(handOff, state, seq, announced);
        for (; seq < kTelegrams; ++seq) {
            BuildTelegram(state, seq);
            announceRan[seq] = host_thread::Run(announce);
            const bool prompt = TreatmentOf(seq) == Treatment::Prompt;
            waitSucceeded[seq] = handOff.WaitTaken(prompt ? kPatientWaitMs : kBriefWaitMs);
            waitEnded = seq;
            handOff.Withdraw();
        }
        readerDone = true;
    });

    HostSide host;
    std::vector<bool> lateTried(kTelegrams, false);
    while (!readerDone) {
        host_thread::RunQueued();
        if (announced < 0) continue;
        const int seq = announced;
        const bool allButLastTaken = host.taken[seq] >= ItemCountOf(seq) - 1;
        QenMsg item;
        switch (TreatmentOf(seq)) {
            case Treatment::Prompt:
                // Once everything is taken, nothing more may come.
                if (handOff.Deliver(item)) host.Record(item, seq);
                break;
            case Treatment::Abandoned:
                if (!allButLastTaken && handOff.Deliver(item)) host.Record(item, seq);
                break;
            case Treatment::Late:
                if (!allButLastTaken) {
                    if (handOff.Deliver(item)) host.Record(item, seq);
                } else if (!lateTried[seq] && waitEnded >= seq) {
                    lateTried[seq] = true;
                    if (handOff.Deliver(item)) host.Record(item, seq);
                } else if (lateTried[seq]) {
                    host.Check(!handOff.Deliver(item), "item after the last of a late telegram");
                }
                break;
        }
        std::this_thread::yield();
    }
    reader.join();

    for (const std::string& error : host.errors) ADD_FAILURE() << error;
    int lateAndComplete = 0;
    for (int seq = 0; seq < kTelegrams; ++seq) {
        ASSERT_TRUE(announceRan[seq]) << "telegram " << seq;
        const bool complete = host.taken[seq] == ItemCountOf(seq);
        EXPECT_LE(host.taken[seq], ItemCountOf(seq)) << "telegram " << seq;
        switch (TreatmentOf(seq)) {
            case Treatment::Prompt:
                EXPECT_TRUE(complete) << "telegram " << seq;
                EXPECT_TRUE(waitSucceeded[seq]) << "telegram " << seq;
                break;
            case Treatment::Abandoned:
                EXPECT_FALSE(complete) << "telegram " << seq;
                EXPECT_FALSE(waitSucceeded[seq]) << "telegram " << seq << " counted a stale signal";
                break;
            case Treatment::Late:
                EXPECT_FALSE(waitSucceeded[seq]) << "telegram " << seq;
                if (complete) ++lateAndComplete;
                break;
        }
    }
    RecordProperty("late_telegrams_taken_after_the_wait", lateAndComplete);
}

}  // namespace
}  // namespace zentrok
