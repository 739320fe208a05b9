// Telegrams decoded per second over a mixed corpus, on the real UTC clock,
// against a floor that only copies the same bytes into the decode context.
// The figures of both are printed side by side at the end of the run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "decode/telegram_decoder.h"
#include "platform/platform.h"

namespace {

using namespace zentrok;

// A line of `length` blanks with each text laid over it from its 1-based position.
std::string Line(std::size_t length, std::initializer_list<std::pair<std::size_t, std::string_view>> fields) {
    std::string line(length, ' ');
    for (const auto& [pos, text] : fields) line.replace(pos - 1, text.size(), text);
    return line;
}

enum class Group { Mixed, Plain, Stamped, MultiEntry };

// What a device sends: fixed telegrams with and without time, registrations
// and their use, multi-entry telegrams, keep-alives and the odd unknown type.
const std::vector<std::string>& Corpus(Group group) {
    static const std::vector<std::string> plain = {
        Line(20, {{1, "107A"}, {9, "  3F2C"}, {16, "XB123"}}),
        Line(20, {{1, "301F"}, {9, "00ABCD"}, {15, "ri  K7"}}),
        Line(20, {{1, "302F"}, {9, "00ABCD"}, {15, "ok  55"}}),
        Line(20, {{1, "5123"}, {8, " 0C1"}, {12, "ABCDXY567"}}),
        "0",
        "4 status",
    };
    static const std::vector<std::string> stamped = {
        Line(34, {{1, "107A"}, {9, "  3F2C"}, {16, "XB123"}, {21, "14:05/09/28/02"}}),
        Line(34, {{1, "302F"}, {9, "00ABCD"}, {15, "rx4455"}, {21, "23:59/59/31/12"}}),
        Line(34, {{1, "5123"}, {8, " 0C1"}, {12, "ABCDXY567"}, {21, "08:15/00/15/06"}}),
        Line(34, {{1, "5123"}, {8, " 0C1"}, {12, "ABCDXY567"}, {21, "14:05/09/30/02"}}),
    };
    static const std::vector<std::string> multiEntry = {
        "S052 #1A2B/Eri12/ABC/]",
        "S071#2A4F/Eri12/Hall A/ri03/gate/Nda5/x/Eri7/9]",
        "S010#1/Eri12/AAA/BBB/3/CCC/Nda01/x/Eri13/DDD]",
        "S071#2A4F/Nda01/x/Eti02/y]",
    };
    static const std::vector<std::string> mixed = [] {
        std::vector<std::string> all = plain;
        all.insert(all.end(), stamped.begin(), stamped.end());
        all.insert(all.end(), multiEntry.begin(), multiEntry.end());
        return all;
    }();
    switch (group) {
        case Group::Plain: return plain;
        case Group::Stamped: return stamped;
        case Group::MultiEntry: return multiEntry;
        default: return mixed;
    }
}

void BM_Decode(benchmark::State& run, Group group) {
    const std::vector<std::string>& corpus = Corpus(group);
    DecoderState state;
    DecodeContext context;
    context.Clock = platform::UtcNow;
    const SendAckFn sendAck = [] {};
    std::size_t next = 0;
    for (auto _ : run) {
        context.Telegram.Assign(corpus[next]);
        benchmark::DoNotOptimize(DecodeTelegram(state, context, sendAck));
        benchmark::DoNotOptimize(state);
        if (++next == corpus.size()) next = 0;
    }
    run.SetItemsProcessed(static_cast<std::int64_t>(run.iterations()));
}

// The floor: the same bytes copied into the context, nothing decoded.
void BM_CopyFloor(benchmark::State& run) {
    const std::vector<std::string>& corpus = Corpus(Group::Mixed);
    DecodeContext context;
    std::size_t next = 0;
    for (auto _ : run) {
        context.Telegram.Assign(corpus[next]);
        benchmark::DoNotOptimize(context);
        if (++next == corpus.size()) next = 0;
    }
    run.SetItemsProcessed(static_cast<std::int64_t>(run.iterations()));
}

BENCHMARK_CAPTURE(BM_Decode, mixed, Group::Mixed);
BENCHMARK(BM_CopyFloor);
BENCHMARK_CAPTURE(BM_Decode, plain, Group::Plain);
BENCHMARK_CAPTURE(BM_Decode, stamped, Group::Stamped);
BENCHMARK_CAPTURE(BM_Decode, multi_entry, Group::MultiEntry);

// Prints as usual and keeps each benchmark's items per second (the median
// when repetitions are asked for).
class RateReporter : public benchmark::ConsoleReporter {
public:
    RateReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end()) rates[run.run_name.str()] = rate->second;
        }
    }

    double Rate(const std::string& name) const {
        const auto rate = rates.find(name);
        return rate != rates.end() ? rate->second.value : 0;
    }

private:
    std::map<std::string, benchmark::Counter> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double decode = reporter.Rate("BM_Decode/mixed");
    const double copy = reporter.Rate("BM_CopyFloor");
    if (decode > 0 && copy > 0)
        std::printf("decode: %.1f M telegrams/s, copy floor: %.1f M telegrams/s, ratio decode/copy: %.3f\n",
                    decode / 1e6, copy / 1e6, decode / copy);
    return 0;
}
