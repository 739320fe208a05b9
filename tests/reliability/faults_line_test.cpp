// Faults on the line: the device goes away in mid-stream, bytes without an
// end character overflow the input queue, and end characters come by the
// thousand. The driver keeps working, or stops on request, and never hangs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <utility>

#include "fault_tally.h"
#include "host_side.h"
#include "link_harness.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kPort = 21;

class LineFaultTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void TearDown() override {
        if (port_) qen_CloseComm(port_);
    }

    void Open() {
        port_ = qen_InitComm(kPort, 1);
        ASSERT_NE(port_, nullptr);
    }

    // A stop that comes long after a request would be a hang.
    void ExpectPromptClose() {
        const auto start = Clock::now();
        qen_CloseComm(std::exchange(port_, nullptr));
        EXPECT_LT(Clock::now() - start, kSettleWithin) << "the reader did not stop on request";
    }

    // A fresh device on the port: it opens again and carries telegrams.
    void ExpectRecoveryWithNewDevice() {
        device_.reset();  // it takes its port link with it
        device_ = std::make_unique<DeviceDouble>(kPort);
        Open();
        ExpectPlainMessageIntact(*device_, port_);
    }

    // The reader goes on with its idle waits and line checks; there is
    // nothing to take.
    void ExpectNothingForSomeIdleWaits() {
        ServeHostThread(5 * kIdleWait);
        QenMsg msg = PatternMsg();
        EXPECT_EQ(qen_GetMsg(port_, &msg), 0);
        EXPECT_TRUE(SameBytes(msg, PatternMsg()));
    }

    WorkDir dir_;
    std::unique_ptr<DeviceDouble> device_ = std::make_unique<DeviceDouble>(kPort);
    QenHandle port_ = nullptr;
};

void RemovePortLink(std::int32_t port) {
    std::filesystem::remove(std::string(std::getenv("ZENTROK_PORT_DIR")) + "/COM" + std::to_string(port));
}

TEST_F(LineFaultTest, DeviceHangsUpInMidTelegram) {
    ExpectPlainMessageIntact(*device_, port_);
    device_->Send(kPlainMessage.substr(0, 10));
    device_->CloseMaster();
    CountFaults(1);

    ExpectNothingForSomeIdleWaits();
    ExpectPromptClose();
    ExpectRecoveryWithNewDevice();
}

TEST_F(LineFaultTest, DeviceHangsUpWhileItsMessageIsHandedOver) {
    device_->SendTelegram(kThreeEntries);
    ASSERT_TRUE(AwaitHandOff());
    device_->CloseMaster();
    CountFaults(1);

    // Taking everything makes the reader send its ACK into the void.
    QenMsg msg = PatternMsg();
    for (int item = 0; item < 3; ++item) EXPECT_EQ(qen_GetMsg(port_, &msg), 1) << "item " << item;
    ExpectNothingForSomeIdleWaits();
    ExpectPromptClose();
    ExpectRecoveryWithNewDevice();
}

// The port stays open on what it opened; only a new open needs the link.
TEST_F(LineFaultTest, PortLinkRemovedWhileOpen) {
    RemovePortLink(kPort);
    CountFaults(1);
    ExpectPlainMessageIntact(*device_, port_);
    EXPECT_EQ(qen_InitComm(kPort, 1), nullptr);

    ExpectPromptClose();
    EXPECT_EQ(qen_InitComm(kPort, 1), nullptr) << "a port without a device opened";
    ExpectRecoveryWithNewDevice();
}

// Unplugged: the line hangs up and the port's name goes away together.
TEST_F(LineFaultTest, DeviceUnpluggedInMidStream) {
    ExpectPlainMessageIntact(*device_, port_);
    device_->Send(kThreeEntries.substr(0, 12));
    device_->CloseMaster();
    RemovePortLink(kPort);
    CountFaults(1);

    ExpectNothingForSomeIdleWaits();
    ExpectPromptClose();
    EXPECT_EQ(qen_InitComm(kPort, 1), nullptr);
    ExpectRecoveryWithNewDevice();
}

// 10 000 bytes without an end character overflow the port's input queue.
// They arrive while the reader waits for the host, so the whole burst is
// there when the reader next looks at the line: the next idle line check
// purges it, and the following telegram arrives whole.
TEST_F(LineFaultTest, UnterminatedBurstIsPurgedAtTheNextIdleCheck) {
    device_->SendTelegram(kPlainMessage);
    ASSERT_TRUE(AwaitHandOff());
    std::string burst;
    for (int i = 0; i < 10000; ++i) burst += static_cast<char>('A' + i % 26);
    device_->Send(burst);
    CountFaults(1);

    QenMsg msg = PatternMsg();
    ASSERT_EQ(qen_GetMsg(port_, &msg), 1);
    EXPECT_EQ(device_->Receive(1, kSettleWithin), std::string(1, kAck));
    ServeHostThread(25 * kIdleWait);  // the reader needs only one of them

    ExpectPlainMessageIntact(*device_, port_);
    const std::string plain(kPlainMessage);
    EXPECT_EQ(LoggedTelegrams(dir_), (std::vector<std::string>{plain, plain})) << "the burst was never a telegram";
}

bool IsEmptyMessage(const QenMsg& msg) {
    return msg.Number == 0 && msg.Channel == 0 && msg.Ident == 0 && msg.Code.Length == 0 && msg.Text.Length == 0 &&
           msg.Stamp.wYear == QEN_NO_STAMP;
}

// A lone end character is an empty telegram and is ignored. Several that
// are read together make a telegram of end characters, an unknown type: an
// empty message, logged, handed over and acknowledged like any other. How
// the flood splits depends on timing; that every part is accounted for
// does not.
TEST_F(LineFaultTest, FloodOfEndCharacters) {
    constexpr int kBurst = 5000;
    constexpr int kSingles = 1000;
    device_->Send(std::string(kBurst, kEndCharacter));
    for (int i = 0; i < kSingles; ++i) {
        device_->Send(std::string(1, kEndCharacter));
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    CountFaults(kBurst + kSingles);

    std::string reply;
    const std::vector<QenMsg> items = TakeUntilQuiet(*device_, port_, reply, 25 * kIdleWait);
    for (const QenMsg& item : items) EXPECT_TRUE(IsEmptyMessage(item));
    EXPECT_EQ(reply, std::string(items.size(), kAck)) << "one ACK per message taken, nothing else";

    const std::vector<std::string> logged = LoggedTelegrams(dir_);
    EXPECT_EQ(logged.size(), items.size()) << "every logged telegram reached the host";
    for (const std::string& telegram : logged) {
        EXPECT_EQ(telegram, std::string(telegram.size(), kEndCharacter));
        EXPECT_LE(telegram.size(), kMaxTelegramLength);
    }
    RecordProperty("telegrams_of_end_characters", static_cast<int>(items.size()));

    ExpectPlainMessageIntact(*device_, port_);
}

}  // namespace
}  // namespace zentrok::test
