// The soak over the whole path: device double, reader thread, log, decoder,
// hand-off and the exported calls, with the reader's waits shortened.
//
//   reliability_soak [--telegrams=N] [--seed=S] [--figures=NAME] [gtest options]
//
// N defaults to $ZENTROK_SOAK_TELEGRAMS, else to the build's size (smaller
// under the sanitizers); the figures go to <report dir>/NAME.json.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "host_side.h"
#include "soak_run.h"

namespace zentrok::test {
namespace {

struct SoakOptions {
    std::int64_t Telegrams = ZENTROK_SOAK_TELEGRAMS;
    std::uint64_t Seed = 1;
    std::string FiguresName = "soak";
};

SoakOptions& Options() {
    static SoakOptions options;
    return options;
}

TEST(Soak, EveryTelegramItemAndAckIsAccountedFor) {
    const SoakOptions& options = Options();
    WorkDir dir;
    DeviceDouble device(11);
    const QenHandle port = qen_InitComm(device.PortNumber(), 1);
    ASSERT_NE(port, nullptr);

    Soak soak(device, port, options.Seed);
    const auto start = std::chrono::steady_clock::now();
    soak.Run(options.Telegrams);
    qen_CloseComm(port);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    soak.CheckLog(dir);

    const SoakFigures& figures = soak.Figures();
    std::vector<JsonObject> kinds;
    for (const auto& [kind, count] : soak.Kinds()) kinds.push_back(JsonObject().Add("kind", kind).Add("sent", count));
    JsonObject json = figures.Json();
    json.Add("seconds", seconds.count())
        .Add("seed", static_cast<std::int64_t>(options.Seed))
        .Add("sanitizer", SanitizerName())
        .Add("idle_wait_ms", static_cast<std::int64_t>(kIdleWait.count()))
        .Add("hand_off_wait_ms", static_cast<std::int64_t>(kHandOffWait.count()))
        .Add("kinds", kinds);
    EXPECT_TRUE(WriteFigures(options.FiguresName, json));
    std::cout << json.Text() << '\n';

    for (const std::string& problem : soak.Problems()) ADD_FAILURE() << problem;
    EXPECT_EQ(figures.Telegrams, options.Telegrams);
    EXPECT_EQ(figures.Lost, 0);
    EXPECT_EQ(figures.Duplicated, 0);
    EXPECT_EQ(figures.OutOfOrder, 0);
    EXPECT_EQ(figures.Foreign, 0);
    EXPECT_EQ(figures.WrongFields, 0);
    EXPECT_EQ(figures.UnexpectedAcks, 0);
    EXPECT_EQ(figures.LogMismatches, 0);
    // A host slower than the hand-off wait is not the driver's fault, but
    // it must stay the rare exception, or the soak tests little.
    EXPECT_LE(figures.HostLate, figures.MessageTelegrams / 100);
}

}  // namespace
}  // namespace zentrok::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using zentrok::test::OptionValue;
    zentrok::test::SoakOptions& options = zentrok::test::Options();
    std::string telegrams = OptionValue(argc, argv, "telegrams");
    if (const char* fromEnv = std::getenv("ZENTROK_SOAK_TELEGRAMS"); telegrams.empty() && fromEnv) telegrams = fromEnv;
    if (!telegrams.empty()) options.Telegrams = std::stoll(telegrams);
    if (const std::string seed = OptionValue(argc, argv, "seed"); !seed.empty()) options.Seed = std::stoull(seed);
    if (const std::string name = OptionValue(argc, argv, "figures"); !name.empty()) options.FiguresName = name;
    return RUN_ALL_TESTS();
}
