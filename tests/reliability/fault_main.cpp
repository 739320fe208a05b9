// main of the fault programs: runs the tests on the main thread, which makes
// it the host thread, and writes the tally of faults.
//
//   reliability_faults_<group> [--figures=NAME] [gtest options]
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_tally.h"
#include "figures.h"
#include "link/host_thread.h"

namespace zentrok::test {
namespace {

struct TestFaults {
    std::string Name;
    std::int64_t Injected = 0;
    bool Survived = false;
};

class FaultTally : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo& test) override {
        tests_.push_back({std::string(test.test_suite_name()) + "." + test.name()});
    }
    void OnTestEnd(const ::testing::TestInfo& test) override { tests_.back().Survived = test.result()->Passed(); }

    void Count(std::int64_t faults) {
        if (!tests_.empty()) tests_.back().Injected += faults;
    }

    JsonObject Json() const {
        std::int64_t injected = 0;
        std::int64_t survived = 0;
        std::vector<JsonObject> tests;
        for (const TestFaults& test : tests_) {
            injected += test.Injected;
            survived += test.Survived ? test.Injected : 0;
            tests.push_back(
                JsonObject().Add("test", test.Name).Add("injected", test.Injected).Add("survived", test.Survived));
        }
        return JsonObject()
            .Add("injected", injected)
            .Add("survived", survived)
            .Add("sanitizer", SanitizerName())
            .Add("tests", tests);
    }

private:
    std::vector<TestFaults> tests_;
};

FaultTally* activeTally = nullptr;

// Installs the tally; the listener list owns it.
FaultTally& InstallFaultTally() {
    activeTally = new FaultTally;
    ::testing::UnitTest::GetInstance()->listeners().Append(activeTally);
    return *activeTally;
}

}  // namespace

void CountFaults(std::int64_t count) {
    if (activeTally) activeTally->Count(count);
}

}  // namespace zentrok::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string name = zentrok::test::OptionValue(argc, argv, "figures");
    if (name.empty()) name = "faults";
    zentrok::host_thread::Attach();  // before any test opens a port, on any thread

    const zentrok::test::FaultTally& tally = zentrok::test::InstallFaultTally();
    const int result = RUN_ALL_TESTS();
    zentrok::test::WriteFigures(name, tally.Json());
    return result;
}
