// Events and waits on Windows event objects: which event a wait reports,
// and which signals it consumes; signals in memory between two threads.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

using Mode = Event::Mode;

TEST(Events, FirstWinsWhenBothAreSetAndManualEventsStaySet) {
    Event first(Mode::ManualReset);
    Event second(Mode::ManualReset);
    first.Set();
    second.Set();
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::First);
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::First);
    first.Reset();
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::Second);
    second.Reset();
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::TimedOut);
}

TEST(Events, AnAutoResetSignalCountsForOneWaitOnly) {
    Event stop(Mode::ManualReset);
    Event taken(Mode::AutoReset);
    taken.Set();
    EXPECT_EQ(WaitForEither(stop, taken, 0), WaitResult::Second);
    EXPECT_EQ(WaitForEither(stop, taken, 0), WaitResult::TimedOut);

    taken.Set();
    EXPECT_TRUE(taken.Wait(0));
    EXPECT_FALSE(taken.Wait(0));
}

TEST(Events, AWaitWakesWhenAnotherThreadSets) {
    Event first(Mode::ManualReset);
    Event second(Mode::AutoReset);
    std::thread setter([&second] { second.Set(); });
    EXPECT_EQ(WaitForEither(first, second, kInfinite), WaitResult::Second);
    setter.join();
}

TEST(Events, HostWaitOnEitherEventOrOnOne) {
    Event first(Mode::ManualReset);
    Event second(Mode::AutoReset);
    EXPECT_EQ(HostWait(first, &second, 0), WaitResult::TimedOut);
    EXPECT_EQ(HostWait(first, nullptr, 0), WaitResult::TimedOut);
    second.Set();
    EXPECT_EQ(HostWait(first, nullptr, 0), WaitResult::TimedOut);
    EXPECT_EQ(HostWait(first, &second, 0), WaitResult::Second);
    first.Set();
    second.Set();
    EXPECT_EQ(HostWait(first, &second, 0), WaitResult::First);
    EXPECT_EQ(HostWait(first, nullptr, kInfinite), WaitResult::First);
}

TEST(Signals, ManualStaysSetAutoCountsOnceAndAWaitTimesOut) {
    Signal manual(Mode::ManualReset);
    Signal automatic(Mode::AutoReset);
    manual.Set();
    automatic.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Check());
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Check());
    manual.Reset();
    const DWORD start = GetTickCount();
    EXPECT_FALSE(manual.Wait(50));
    EXPECT_GE(GetTickCount() - start, 40u);
}

// Two threads hand a turn back and forth, often after the brief check has
// given up, so that each wake-up of a sleeping waiter counts: one lost
// wake-up ends the exchange with a time-out.
TEST(Signals, NoWakeUpIsLostBetweenTwoThreads) {
    Signal ping(Mode::AutoReset);
    Signal pong(Mode::AutoReset);
    constexpr int kTurns = 3000;
    std::thread partner([&] {
        for (int i = 0; i < kTurns; ++i) {
            if (!ping.Wait(5000)) return;
            if (i % 3 == 0) Sleep(0);
            pong.Set();
        }
    });
    int answered = 0;
    for (int i = 0; i < kTurns; ++i) {
        if (i % 7 == 0) Sleep(1);  // the partner has to sleep for this one
        ping.Set();
        if (!pong.Wait(5000)) break;
        ++answered;
    }
    partner.join();
    EXPECT_EQ(answered, kTurns);
}

}  // namespace
}  // namespace zentrok::platform
