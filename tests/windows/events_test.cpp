// Events and waits on Windows event objects: which event a wait reports,
// and which signals it consumes.
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

}  // namespace
}  // namespace zentrok::platform
