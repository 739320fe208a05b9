// Closing a port: never hangs, whatever the reader is doing and whichever
// thread closes; handles that are not open ports are ignored.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "cpu_time.h"
#include "environment.h"
#include "link_harness.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;

// Well under the reader's idle wait.
constexpr auto kPromptly = kIdleWait * 3 / 4;

std::chrono::milliseconds TimeToClose(QenHandle port) {
    const auto start = Clock::now();
    qen_CloseComm(port);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// The reader has logged the telegram, so it is past framing and decoding.
void AwaitLogged(const WorkDir& dir) {
    const auto end = Clock::now() + kExpectWithin;
    while (LogFiles(dir).empty() && Clock::now() < end) std::this_thread::sleep_for(5ms);
    ASSERT_FALSE(LogFiles(dir).empty()) << "the telegram never reached the reader";
}

// The share of one core the process used while it slept for `duration`:
// what the open ports' readers cost when nothing happens on their lines.
double CpuShareWhileAsleep(std::chrono::milliseconds duration) {
    const auto before = ProcessCpuTime();
    std::this_thread::sleep_for(duration);
    return std::chrono::duration<double>(ProcessCpuTime() - before) / duration;
}

class CloseTest : public ::testing::Test {
protected:
    WorkDir dir_;
    DeviceDouble device_{5};
};

TEST_F(CloseTest, CloseWhileIdleIsPromptAndReleasesThePort) {
    QenHandle port = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    std::this_thread::sleep_for(100ms);
    EXPECT_LT(TimeToClose(port), kPromptly);

    port = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(port, nullptr) << "the port stayed taken after the close";
    EXPECT_TRUE(ExchangeTelegram(device_, port, kRejected).acknowledged);
    EXPECT_LT(TimeToClose(port), kPromptly);
}

// The reader may not even have started waiting when the stop comes.
TEST_F(CloseTest, CloseRightAfterOpenStopsTheReader) {
    for (int i = 0; i < 25; ++i) {
        SCOPED_TRACE(i);
        const QenHandle port = qen_InitComm(device_.PortNumber(), 1);
        ASSERT_NE(port, nullptr);
        EXPECT_LT(TimeToClose(port), kPromptly);
    }
}

// An idle reader sleeps: its only wake-up is the line check of each idle wait.
TEST_F(CloseTest, IdlePortCostsNothingAndClosesPromptly) {
    const QenHandle port = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    const double share = CpuShareWhileAsleep(10s);
    RecordProperty("cpu_share_percent", std::to_string(share * 100));
    EXPECT_LT(share, 0.01);
    const auto closing = TimeToClose(port);
    RecordProperty("close_ms", std::to_string(closing.count()));
    EXPECT_LT(closing, kPromptly);
}

// A device that has gone away fails every read: the reader must not spin.
// The trace says so once.
TEST_F(CloseTest, CloseAfterTheDeviceHungUpIsPrompt) {
    const std::filesystem::path trace = dir_.Path() / "trace.txt";
    const ScopedEnvironment tracing("ZENTROK_TRACE", trace.string());
    const QenHandle port = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    device_.CloseMaster();
    EXPECT_LT(CpuShareWhileAsleep(5s), 0.01);  // over two idle waits
    EXPECT_LT(TimeToClose(port), kPromptly);
    const std::vector<std::string> events = TracedEvents(trace, device_.PortNumber());
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("the device has gone away", 0) == 0; }),
              1);
}

// The host thread is busy elsewhere while a message waits for it: a close
// on another thread withdraws the hand-off instead of waiting for it.
TEST_F(CloseTest, CloseOnAnotherThreadWithdrawsAPendingHandOff) {
    const QenHandle port = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    device_.SendTelegram(kPlainMessage);
    AwaitLogged(dir_);
    std::this_thread::sleep_for(100ms);

    auto closing = std::async(std::launch::async, TimeToClose, port);
    if (closing.wait_for(kExpectWithin) != std::future_status::ready) {
        ADD_FAILURE() << "qen_CloseComm on another thread hangs while the host thread is not polling";
        ServeHostThread(kHandOffWait + 1s);  // let it end before the future is destroyed
    }
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "") << "a withdrawn message was acknowledged";

    QenMsg msg = PatternMsg();
    EXPECT_EQ(qen_GetMsg(port, &msg), 0);
    EXPECT_TRUE(SameBytes(msg, PatternMsg()));
    ServeHostThread(50ms);  // nothing of the closed port is left to run

    const QenHandle again = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(again, nullptr);
    const Exchange next = ExchangeTelegram(device_, again, kPlainMessage);
    EXPECT_TRUE(next.acknowledged);
    EXPECT_EQ(next.items.size(), 1u);
    qen_CloseComm(again);
}

// The host thread itself closes while a message waits for it: the close
// runs the hand-off, the reader waits out the take it never gets, and the
// telegram stays unacknowledged: a whole hand-off wait after the send. POSIX
// builds run this case with short waits (link_close_test_short_waits).
TEST_F(CloseTest, CloseOnTheHostThreadDuringAHandOffWaitsItOut) {
    const QenHandle port = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(port, nullptr);
    const auto sent = Clock::now();
    device_.SendTelegram(kPlainMessage);
    AwaitLogged(dir_);

    const auto closing = TimeToClose(port);
    EXPECT_GE(Clock::now() - sent, kHandOffWait) << "the close did not wait for the hand-off";
    EXPECT_LT(closing, kHandOffWait + kExpectWithin);
    EXPECT_EQ(device_.ReceiveFor(kQuietWindow), "") << "a message never taken was acknowledged";
}

// The live port is opened first, so the closed one's handle cannot stand
// for it.
TEST(HandleTest, HandlesThatAreNotOpenPortsAreIgnored) {
    WorkDir dir;
    DeviceDouble device(6);
    const QenHandle closed = qen_InitComm(device.PortNumber(), 1);
    ASSERT_NE(closed, nullptr);
    qen_CloseComm(closed);

    // Opened after the close, so its object may take the closed one's memory:
    // the closed handle must still not reach it.
    DeviceDouble liveDevice(7);
    const QenHandle live = qen_InitComm(liveDevice.PortNumber(), 1);
    ASSERT_NE(live, nullptr);
    EXPECT_NE(live, closed);

    liveDevice.SendTelegram(kPlainMessage);
    ServeHostThread(kQuietWindow);  // the live port's message is announced

    int notAPort = 0;
    const QenHandle bogus[] = {closed, nullptr, reinterpret_cast<QenHandle>(0x12345678), &notAPort};
    for (const QenHandle handle : bogus) {
        SCOPED_TRACE(handle);
        QenMsg msg = PatternMsg();
        EXPECT_EQ(qen_GetMsg(handle, &msg), 0);
        EXPECT_TRUE(SameBytes(msg, PatternMsg()));
        EXPECT_EQ(qen_CloseComm(handle), 0);
    }
    EXPECT_EQ(notAPort, 0);
    EXPECT_EQ(qen_GetMsg(live, nullptr), 0) << "a null record";

    // None of this touched the live port: its message is still there.
    QenMsg msg = PatternMsg();
    ASSERT_TRUE(AwaitMsg(live, msg));
    EXPECT_EQ(msg.Number, 7);
    EXPECT_EQ(liveDevice.Receive(1, kExpectWithin), std::string(1, kAck));
    qen_CloseComm(live);
}

}  // namespace
}  // namespace zentrok::test
