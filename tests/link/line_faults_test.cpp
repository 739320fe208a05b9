// What the driver makes of faults the system reports and neither a pseudo
// terminal nor Wine produces: line errors on a telegram's bytes, and reads
// that fail with the codes of a removed adapter or of a passing failure.
// The driver's objects are built with the fault seam for this.
#include <gtest/gtest.h>

#include "environment.h"
#include "link_harness.h"
#include "platform/fault_seam.h"
#include "system_failures.h"

namespace zentrok::test {
namespace {

namespace seam = platform::fault_seam;

using LineFaultsTest = PortTest<14>;

// Well under the reader's idle wait: a passing failure costs no idle wait.
constexpr auto kRetriedWithin = kIdleWait / 2;

TEST_F(LineFaultsTest, TelegramWithDamagingLineErrorsIsNeitherHandedOverNorAcknowledged) {
    struct Case {
        const char* name;
        platform::LineErrors errors;
        bool discarded;
    };
    const Case cases[] = {
        {"overrun", {true, false, false, false, false}, true},
        {"device queue overflow", {false, true, false, false, false}, true},
        {"framing", {false, false, true, false, false}, true},
        {"break", {false, false, false, false, true}, true},
        {"parity, not checked on the line", {false, false, false, true, false}, false},
    };
    std::uint32_t discarded = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectPlainMessageIntact(device_, port_);  // the idle wait starts anew
        seam::ReportLineErrors(c.errors);
        const Exchange exchange =
            ExchangeTelegram(device_, port_, kPlainMessage, 1, c.discarded ? kQuietWindow : kExpectWithin);
        EXPECT_EQ(exchange.acknowledged, !c.discarded);
        EXPECT_EQ(exchange.items.size(), c.discarded ? 0u : 1u);
        discarded += c.discarded ? 1 : 0;
        EXPECT_EQ(LineStateOf(port_).DiscardedTelegrams, discarded);
    }
    EXPECT_EQ(LineStateOf(port_).LineErrors, 5u);
}

TEST_F(LineFaultsTest, FailedReadsAreRetriedOrTheDeviceOpenedAgainAsTheirCodesSay) {
    std::uint32_t reopens = 0;
    for (const ReadFailure& failure : ReadFailures()) {
        SCOPED_TRACE(failure.name);
        ExpectPlainMessageIntact(device_, port_);
        seam::FailNext(seam::Call::Read, failure.readCode);
        if (failure.statusCode != 0) seam::FailNext(seam::Call::Status, failure.statusCode);
        if (!failure.gone) {
            EXPECT_TRUE(ExchangeTelegram(device_, port_, kRejected, 1, kRetriedWithin).acknowledged)
                << "a passing failure held the telegram up";
            EXPECT_EQ(LineStateOf(port_).Reopens, reopens);
            continue;
        }
        // The telegram the gone device held is purged with it.
        device_.SendTelegram(kRejected);
        ASSERT_TRUE(AwaitDevice(port_, true, ++reopens, 5s)) << "the device was not opened again";
        device_.ReceiveFor(kQuietWindow);
    }
    seam::FailNext(seam::Call::Read, 0);
    seam::FailNext(seam::Call::Status, 0);
    ExpectPlainMessageIntact(device_, port_);
}

// An ACK the system refuses is counted as not sent, and the trace says why.
TEST_F(LineFaultsTest, RefusedAckIsTracedAndNotCounted) {
    const std::filesystem::path trace = dir_.Path() / "trace.txt";
    qen_CloseComm(port_);
    const ScopedEnvironment tracing("ZENTROK_TRACE", trace.string());
    port_ = qen_InitComm(device_.PortNumber(), 1);
    ASSERT_NE(port_, nullptr);
    seam::FailNext(seam::Call::Write, ReadFailures().back().readCode);
    EXPECT_FALSE(ExchangeTelegram(device_, port_, kRejected, 1, kQuietWindow).acknowledged);
    EXPECT_EQ(LineStateOf(port_).AcksSent, 0u);
    EXPECT_TRUE(HasEvent(TracedEvents(trace, device_.PortNumber()), "ACK not sent"));
}

}  // namespace
}  // namespace zentrok::test
