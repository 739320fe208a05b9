#include "soak_run.h"

#include <algorithm>
#include <thread>

#include "host_side.h"
#include "link_harness.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A host whose takes span this much may have run past the hand-off wait.
constexpr auto kMaybeLate = kHandOffWait - 40ms;
constexpr std::size_t kMaxProblems = 50;
constexpr double kUntakenChance = 0.005;
constexpr double kTakenInPartChance = 0.01;  // of telegrams with queued entries

const char* VerdictName(ItemLedger::Verdict verdict) {
    switch (verdict) {
        case ItemLedger::Verdict::InPlace: return "in place";
        case ItemLedger::Verdict::WrongFields: return "with wrong fields";
        case ItemLedger::Verdict::Duplicated: return "duplicated";
        case ItemLedger::Verdict::OutOfOrder: return "out of order";
        case ItemLedger::Verdict::Foreign: return "of another telegram";
        case ItemLedger::Verdict::Unknown: return "of no telegram";
    }
    return "";
}

}  // namespace

JsonObject SoakFigures::Json() const {
    JsonObject json;
    json.Add("telegrams", Telegrams)
        .Add("message_telegrams", MessageTelegrams)
        .Add("items_to_take", ItemsToTake)
        .Add("items_delivered", ItemsDelivered)
        .Add("acks_expected", AcksExpected)
        .Add("acks_received", AcksReceived)
        .Add("lost", Lost)
        .Add("duplicated", Duplicated)
        .Add("out_of_order", OutOfOrder)
        .Add("foreign", Foreign)
        .Add("wrong_fields", WrongFields)
        .Add("unexpected_acks", UnexpectedAcks)
        .Add("untaken", Untaken)
        .Add("taken_in_part", TakenInPart)
        .Add("withdrawn", Withdrawn)
        .Add("host_late", HostLate)
        .Add("logged", Logged)
        .Add("log_mismatches", LogMismatches);
    return json;
}

Soak::Soak(DeviceDouble& device, QenHandle port, std::uint64_t seed)
    : device_(device), port_(port), script_(seed), random_(seed + 1) {}

void Soak::Run(std::int64_t telegrams) {
    for (std::int64_t i = 0; i < telegrams && !stuck_ && problems_.size() < kMaxProblems; ++i) Exchange(script_.Next());
    // A withdrawn last telegram must stay unacknowledged too.
    const std::string leftover = device_.ReceiveFor(3 * kHandOffWait);
    figures_.AcksReceived += static_cast<std::int64_t>(leftover.size());
    figures_.UnexpectedAcks += static_cast<std::int64_t>(leftover.size());
    if (!leftover.empty()) problems_.push_back(std::to_string(leftover.size()) + " bytes after the last telegram");
}

void Soak::Exchange(const SoakTelegram& telegram) {
    ledger_.Expect(telegram);
    ++figures_.Telegrams;
    CountKind(telegram.Kind);
    if (telegram.Text.find('@') == std::string::npos) logged_.push_back(telegram.Text);

    CountUnexpectedAcks(telegram, "before it was sent");
    device_.SendTelegram(telegram.Text);
    if (telegram.Items.empty()) return ExchangeWithoutItems(telegram);

    ++figures_.MessageTelegrams;
    const std::size_t take = PlanTake(telegram);
    figures_.ItemsToTake += static_cast<std::int64_t>(take);
    if (!AwaitHandOff()) {
        Problem(telegram, "was never handed over");
        figures_.Lost += static_cast<std::int64_t>(take);
        stuck_ = true;
        return;
    }
    // The reader waits for the host thread meanwhile; its hand-off wait has
    // not begun.
    Pause(0.15, 500us, 0.05, 3000us);
    if (take == 0) {
        RunHandOffs();  // announced, never taken
        ++figures_.Untaken;
        ++figures_.Withdrawn;
        return;
    }

    const auto first = Clock::now();
    std::size_t taken = 0;
    for (; taken < take; ++taken) {
        if (taken > 0) Pause(0.15, 1000us, 0, 0us);
        if (taken + 1 == telegram.Items.size()) CountUnexpectedAcks(telegram, "before its last item was taken");
        QenMsg item = PatternMsg();
        if (qen_GetMsg(port_, &item) != 1) {
            if (Clock::now() - first >= kMaybeLate) {
                ++figures_.HostLate;
            } else {
                Problem(telegram, "item " + std::to_string(taken) + " was not delivered");
                figures_.Lost += static_cast<std::int64_t>(take - taken);
            }
            break;
        }
        Judge(item, telegram, taken);
    }
    if (taken < telegram.Items.size()) {
        if (taken == take) ++figures_.TakenInPart;
        ++figures_.Withdrawn;
        return;
    }

    if (Clock::now() - first >= kMaybeLate) {
        // The host may have missed the wait: the ACK may come, or not.
        ++figures_.HostLate;
        figures_.AcksReceived += static_cast<std::int64_t>(device_.Receive(1, 2 * kHandOffWait).size());
    } else {
        figures_.AcksExpected += 1;
        CountAcks(device_.Receive(1, kSettleWithin), telegram);
    }
    ExpectNothingToTake(telegram);
}

void Soak::ExchangeWithoutItems(const SoakTelegram& telegram) {
    figures_.AcksExpected += static_cast<std::int64_t>(telegram.Acks);
    CountAcks(device_.Receive(telegram.Acks, kSettleWithin), telegram);
    // The reader is past this telegram, so nothing of an earlier one is left.
    ExpectNothingToTake(telegram);
}

std::size_t Soak::PlanTake(const SoakTelegram& telegram) {
    const std::size_t items = telegram.Items.size();
    if (items >= 2 && std::bernoulli_distribution(kTakenInPartChance)(random_))
        return std::uniform_int_distribution<std::size_t>(1, items - 1)(random_);
    if (std::bernoulli_distribution(kUntakenChance)(random_)) return 0;
    return items;
}

void Soak::Judge(const QenMsg& item, const SoakTelegram& telegram, std::size_t index) {
    ++figures_.ItemsDelivered;
    const ItemLedger::Verdict verdict = ledger_.Deliver(item, telegram.Seq, index);
    switch (verdict) {
        case ItemLedger::Verdict::InPlace: return;
        case ItemLedger::Verdict::WrongFields: ++figures_.WrongFields; break;
        case ItemLedger::Verdict::Duplicated: ++figures_.Duplicated; break;
        case ItemLedger::Verdict::OutOfOrder: ++figures_.OutOfOrder; break;
        case ItemLedger::Verdict::Foreign:
        case ItemLedger::Verdict::Unknown: ++figures_.Foreign; break;
    }
    Problem(telegram, "item " + std::to_string(index) + " came " + VerdictName(verdict) + " (text \"" +
                          TextOf(item.Text) + "\", ident " + std::to_string(item.Ident) + ")");
}

void Soak::ExpectNothingToTake(const SoakTelegram& telegram) {
    QenMsg item = PatternMsg();
    if (qen_GetMsg(port_, &item) == 1) Judge(item, telegram, telegram.Items.size());
}

void Soak::CountUnexpectedAcks(const SoakTelegram& telegram, const char* when) {
    const std::string reply = device_.Receive(SIZE_MAX, 0ms);
    if (reply.empty()) return;
    figures_.AcksReceived += static_cast<std::int64_t>(reply.size());
    figures_.UnexpectedAcks += static_cast<std::int64_t>(reply.size());
    Problem(telegram, std::to_string(reply.size()) + " unexpected bytes " + when);
}

void Soak::CountAcks(const std::string& reply, const SoakTelegram& telegram) {
    figures_.AcksReceived += static_cast<std::int64_t>(reply.size());
    if (NonAckBytes(reply) != 0) Problem(telegram, "the driver sent something other than ACK");
    if (reply.size() < telegram.Acks) {
        figures_.Lost += static_cast<std::int64_t>(telegram.Acks - reply.size());
        Problem(telegram, "got " + std::to_string(reply.size()) + " of its " + std::to_string(telegram.Acks) + " ACKs");
    }
}

void Soak::Pause(double shortChance, std::chrono::microseconds shortMax, double longChance,
                 std::chrono::microseconds longMax) {
    const double roll = std::uniform_real_distribution<double>(0, 1)(random_);
    std::chrono::microseconds::rep most = 0;
    if (roll < longChance)
        most = longMax.count();
    else if (roll < longChance + shortChance)
        most = shortMax.count();
    if (most > 0)
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<std::chrono::microseconds::rep>(0, most)(random_)));
}

void Soak::Problem(const SoakTelegram& telegram, const std::string& what) {
    if (problems_.size() < kMaxProblems)
        problems_.push_back("telegram " + std::to_string(telegram.Seq) + " (" + telegram.Kind + " \"" + telegram.Text +
                            "\") " + what);
}

void Soak::CountKind(const std::string& kind) {
    const auto known = std::find_if(kinds_.begin(), kinds_.end(), [&](const auto& k) { return k.first == kind; });
    if (known != kinds_.end())
        ++known->second;
    else
        kinds_.emplace_back(kind, 1);
}

void Soak::CheckLog(const WorkDir& dir) {
    const std::vector<std::string> lines = LoggedTelegrams(dir);
    figures_.Logged = static_cast<std::int64_t>(lines.size());
    const std::size_t common = std::min(lines.size(), logged_.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (lines[i] == logged_[i]) continue;
        if (++figures_.LogMismatches <= 5)
            problems_.push_back("log line " + std::to_string(i) + " is \"" + lines[i] + "\", expected \"" + logged_[i] +
                                "\"");
    }
    if (lines.size() != logged_.size()) {
        figures_.LogMismatches += static_cast<std::int64_t>(std::max(lines.size(), logged_.size()) - common);
        problems_.push_back("the log holds " + std::to_string(lines.size()) + " telegrams, expected " +
                            std::to_string(logged_.size()));
    }
}

}  // namespace zentrok::test
