// The soak's telegrams: every type the device sends, valid and rejected,
// each carrying its sequence number, together with the items the host must
// receive for it.
//
// The sequence number `seq` is in every item: Ident is 0x100000 + seq for
// types "1", "3" and "S" (a type "5" carries its low 16 bits, and seq in
// decimal as its Text); the entries of a type "S" carry 10 + their place in
// the telegram as their Code. Empty messages (other types, type "S" without
// a qualifying entry) carry nothing, and are told apart by their place alone.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "zentrok.h"

namespace zentrok::test {

struct ExpectedItem {
    bool IsMessage = true;  // the message; otherwise a queued entry
    std::int32_t Number = 0;
    std::uint16_t Channel = 0;
    std::int32_t Ident = 0;
    std::string Code;       // as delivered
    std::string Text;       // as delivered: upper case
    bool HasStamp = false;  // a time, with the fields below and the year of the clock
    QenSystemTime Stamp{};
};

struct SoakTelegram {
    std::int64_t Seq = 0;
    std::string Kind;                 // what it tests, for the figures
    std::string Text;                 // without the end character
    std::vector<ExpectedItem> Items;  // the message first; empty: nothing for the host
    std::size_t Acks = 1;             // ACK bytes once every item is taken: 2 for type "0"
};

class SoakScript {
public:
    explicit SoakScript(std::uint64_t seed) : random_(seed) {}

    SoakTelegram Next();

private:
    void Plan();  // queues the next telegram, or a registration and its use
    SoakTelegram Start(std::string kind);
    SoakTelegram Fixed1(bool stamped);
    SoakTelegram Fixed5(bool stamped);
    // `registeredCode`: the code registered for this telegram's ident.
    SoakTelegram Fixed3(const std::string& kind, bool rVariant, bool stamped, int channel,
                        const std::string* registeredCode);
    void RegistrationAndUse();
    SoakTelegram AckOnly();
    SoakTelegram Rejected();
    SoakTelegram MultiEntry(int entries, bool skips);
    SoakTelegram NoQualifyingEntry();
    SoakTelegram OtherType();

    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }
    char ChannelDigit(int value);
    std::string Stamp(QenSystemTime& fields, bool valid);

    std::mt19937_64 random_;
    std::int64_t seq_ = 0;
    std::deque<SoakTelegram> planned_;
};

}  // namespace zentrok::test
