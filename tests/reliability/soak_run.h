// The soak: telegram after telegram from the device, which waits for each
// ACK before it sends the next, and a host that takes items after random
// delays, now and then only part of a telegram or nothing at all. Every
// item, every ACK and every log line is accounted for.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "device_double.h"
#include "figures.h"
#include "item_ledger.h"
#include "soak_telegrams.h"
#include "work_dir.h"
#include "zentrok.h"

namespace zentrok::test {

struct SoakFigures {
    std::int64_t Telegrams = 0;
    std::int64_t MessageTelegrams = 0;  // telegrams with items for the host
    std::int64_t ItemsToTake = 0;       // items the host reached for
    std::int64_t ItemsDelivered = 0;    // items qen_GetMsg returned, stray ones included
    std::int64_t AcksExpected = 0;
    std::int64_t AcksReceived = 0;  // every ACK byte the device received
    std::int64_t Lost = 0;          // items or ACKs that were due and never came
    std::int64_t Duplicated = 0;    // items delivered twice
    std::int64_t OutOfOrder = 0;
    std::int64_t Foreign = 0;  // items with another telegram's fields, or none's
    std::int64_t WrongFields = 0;
    std::int64_t UnexpectedAcks = 0;  // ACKs before everything was taken, or for nothing
    std::int64_t Untaken = 0;         // message telegrams the host never took
    std::int64_t TakenInPart = 0;
    std::int64_t Withdrawn = 0;  // telegrams left to the hand-off wait
    std::int64_t HostLate = 0;   // the host itself took longer than the hand-off wait
    std::int64_t Logged = 0;
    std::int64_t LogMismatches = 0;

    JsonObject Json() const;
};

class Soak {
public:
    Soak(DeviceDouble& device, QenHandle port, std::uint64_t seed);

    // Exchanges `telegrams` telegrams, then waits out the last hand-off.
    void Run(std::int64_t telegrams);

    // Compares the telegram log with the telegrams sent.
    void CheckLog(const WorkDir& dir);

    const SoakFigures& Figures() const { return figures_; }
    // The first problems seen, to report.
    const std::vector<std::string>& Problems() const { return problems_; }
    // Telegrams sent, by kind.
    const std::vector<std::pair<std::string, std::int64_t>>& Kinds() const { return kinds_; }

private:
    void Exchange(const SoakTelegram& telegram);
    void ExchangeWithoutItems(const SoakTelegram& telegram);
    std::size_t PlanTake(const SoakTelegram& telegram);
    void Judge(const QenMsg& item, const SoakTelegram& telegram, std::size_t index);
    void ExpectNothingToTake(const SoakTelegram& telegram);
    void CountUnexpectedAcks(const SoakTelegram& telegram, const char* when);
    void CountAcks(const std::string& reply, const SoakTelegram& telegram);
    void Pause(double shortChance, std::chrono::microseconds shortMax, double longChance,
               std::chrono::microseconds longMax);
    void Problem(const SoakTelegram& telegram, const std::string& what);
    void CountKind(const std::string& kind);

    DeviceDouble& device_;
    QenHandle port_;
    SoakScript script_;
    std::mt19937_64 random_;  // the host's choices
    ItemLedger ledger_;
    SoakFigures figures_;
    std::vector<std::string> logged_;  // the telegrams the log must hold, in order
    std::vector<std::string> problems_;
    std::vector<std::pair<std::string, std::int64_t>> kinds_;
    bool stuck_ = false;  // a hand-off never came: the run ends
};

}  // namespace zentrok::test
