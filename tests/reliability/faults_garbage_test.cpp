// Telegrams of random bytes, every value from 0x00 to 0xFF but the end
// character, sent one by one. Whatever they hold, the host receives exactly
// what the driver's decoder and hand-off make of them when run directly,
// each telegram gets its ACKs, and the log holds every telegram byte for
// byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fault_tally.h"
#include "host_side.h"
#include "link/hand_over.h"
#include "link_harness.h"
#include "platform/platform.h"

namespace zentrok::test {
namespace {

constexpr int kTelegrams = 1500;

// A port's decoder and hand-off without line or threads: what the host
// should receive for each telegram, in sequence.
class MirrorPort {
public:
    MirrorPort() {
        state_.ClearChannelMemory();
        context_.Clock = platform::UtcNow;
    }

    // The items for `telegram`, written onto PatternMsg() records, and the
    // number of ACK bytes it gets.
    std::vector<QenMsg> Items(const std::string& telegram, std::size_t& acks) {
        acks = 0;
        context_.Telegram.Assign(telegram);
        std::vector<QenMsg> items;
        ReplayTelegram(
            state_, context_, handOff_, [&acks] { ++acks; }, PatternMsg(),
            [&items](const QenMsg& msg) { items.push_back(msg); });
        return items;
    }

private:
    DecoderState state_;
    DecodeContext context_;
    HandOff handOff_;
};

// Equal but for the stamp's day of week and milliseconds, which come from
// the clock at the moment of decoding.
bool SameItem(QenMsg a, QenMsg b) {
    a.Stamp.wDayOfWeek = b.Stamp.wDayOfWeek = 0;
    a.Stamp.wMilliseconds = b.Stamp.wMilliseconds = 0;
    return SameBytes(a, b);
}

class GarbageSource {
public:
    explicit GarbageSource(std::uint64_t seed) : random_(seed) {}

    // The first 16 telegrams hold every byte value once between them; the
    // rest are random, with pieces of the telegram grammar mixed in so that
    // the decoder goes past its first checks.
    std::string Next() {
        std::string telegram;
        if (sweep_ < 16) {
            telegram = std::string(1, "135S0X"[sweep_ % 6]);
            for (int value = sweep_ * 16; value < sweep_ * 16 + 16; ++value)
                if (value != kEndCharacter) telegram += static_cast<char>(value);
            ++sweep_;
            return telegram;
        }
        static const std::string kPieces[] = {"Eri", "Nda", "/", "#", "]", ":", "12", "ri", "@", "0x", " "};
        telegram = Pick(0.5) ? std::string(1, "01355SS"[Below(7)]) : std::string(1, RandomByte());
        const std::size_t length = Pick(0.3) ? 20 + Below(2) * 14 : 1 + Below(249);
        while (telegram.size() < length)
            telegram += Pick(0.2) ? kPieces[Below(std::size(kPieces))] : std::string(1, RandomByte());
        telegram.resize(length);
        return telegram;
    }

private:
    std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
    bool Pick(double p) { return std::bernoulli_distribution(p)(random_); }
    char RandomByte() {
        for (;;)
            if (const auto c = static_cast<char>(Below(256)); c != kEndCharacter) return c;
    }

    std::mt19937_64 random_;
    int sweep_ = 0;
};

// The log holds exactly these telegrams, each as "<time text> <telegram>\r\n"
// with an eight-character time text.
::testing::AssertionResult LogHoldsExactly(const WorkDir& dir, const std::vector<std::string>& telegrams) {
    std::string content;
    for (const auto& file : LogFiles(dir)) content += ReadFileBytes(file);
    std::size_t at = 0;
    for (std::size_t i = 0; i < telegrams.size(); ++i) {
        const std::string line = " " + telegrams[i] + "\r\n";
        if (content.compare(at + 8, line.size(), line) != 0)
            return ::testing::AssertionFailure() << "log line " << i << " is not telegram " << i;
        at += 8 + line.size();
    }
    if (at != content.size()) return ::testing::AssertionFailure() << content.size() - at << " bytes too many";
    return ::testing::AssertionSuccess();
}

TEST(GarbageFaultTest, RandomBytesDecodeAsTheDecoderSaysAndAreAcknowledged) {
    WorkDir dir;
    dir.WriteIni("[RecNr1]\nDataBit=8\n");
    DeviceDouble device(22);
    const QenHandle port = qen_InitComm(device.PortNumber(), 1);
    ASSERT_NE(port, nullptr);

    MirrorPort mirror;
    GarbageSource source(7);
    std::vector<std::string> logged;
    int mismatches = 0;
    for (int i = 0; i < kTelegrams && mismatches < 10; ++i) {
        const std::string telegram = source.Next();
        if (telegram.find('@') == std::string::npos) logged.push_back(telegram);
        std::size_t acks = 0;
        const std::vector<QenMsg> expected = mirror.Items(telegram, acks);

        const Exchange exchanged = ExchangeTelegram(device, port, telegram, acks, kSettleWithin);
        const bool same = exchanged.reply == std::string(acks, kAck) && exchanged.items.size() == expected.size() &&
                          std::equal(expected.begin(), expected.end(), exchanged.items.begin(), SameItem);
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << "telegram " << i << " (" << telegram.size() << " bytes): " << exchanged.items.size()
                          << " items and " << exchanged.reply.size() << " reply bytes, expected " << expected.size()
                          << " and " << acks;
        }
        CountFaults(1);
    }
    QenMsg msg = PatternMsg();
    EXPECT_EQ(qen_GetMsg(port, &msg), 0);
    qen_CloseComm(port);
    EXPECT_EQ(device.ReceiveFor(3 * kHandOffWait), "") << "bytes after the last ACK";
    EXPECT_TRUE(LogHoldsExactly(dir, logged));
}

}  // namespace
}  // namespace zentrok::test
