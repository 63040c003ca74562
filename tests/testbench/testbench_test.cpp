// The bench core's production check against the dongle simulator, in virtual time, with a
// real SQLite history and real report files: what refuses a run does so before the first
// console and leaves nothing behind, every record reaches the history and every sink, and
// a run the operator ends keeps its current record as interrupted.
#include "testbench/testbench.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check_history.h"
#include "protocol/wireless_protocol.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"

namespace wct::testbench {
namespace {

namespace fs = std::filesystem;

// Keeps what it is given, or refuses every record with `refusal`.
class TListSink : public TRecordSink {
public:
    explicit TListSink(std::string refusal = "") : refusal_(std::move(refusal)) {}
    void Keep(const check::TCheckRecord& record) override {
        if (!refusal_.empty()) throw std::runtime_error(refusal_);
        records.push_back(record);
    }
    std::vector<check::TCheckRecord> records;

private:
    std::string refusal_;
};

class TestBenchCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([] { return std::vector<std::string>{}; });
        paced.clock = &clock;
        dir = fs::temp_directory_path() /
              ("wct-testbench-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        // Four quick steps with a short reply time-out: enough to be interrupted midway.
        std::string plan = "name = \"short\"\nreply_timeout_ms = 300\n";
        for (const char* kind : {"identity", "keys", "cardio", "total_rolls"})
            plan += std::string("[[step]]\nkind = \"") + kind + "\"\n";
        request.plan = check::ParsePlan(plan, "short.toml");
        request.session = {"bench-1", "anna"};
        request.history = (dir / "checks.sqlite").string();
        request.report = (dir / "run.json").string();
        request.junit = (dir / "run.xml").string();
        request.presentWaitMs = 1500;
        request.sinks = {&sink};
        request.OnStep = [this](const check::TCheckRecord&, const check::TStepResult& s) {
            steps.push_back(s.name);
            if (s.name == stopAfter) stop = true;
        };
        request.Interrupted = [this] { return stop; };
    }
    void TearDown() override {
        SetPortSource(nullptr);
        fs::remove_all(dir);
    }

    // The dongle with consoles 1 to `count` registered; none present when 0.
    void Start(uint8_t count) {
        sim::TDongleOptions options;
        options.consoles.resize(count);
        for (uint8_t i = 0; i < count; ++i) {
            options.consoles[i] = sim::DefaultConsole(static_cast<uint8_t>(i + 1));
            options.consoles[i].joinedAtStart = true;
        }
        simulator = std::make_unique<sim::TDongleSimulator>(options, paced);
        simulator->Start();
        protocol.SetPortDef(simulator->PortPath());
        ASSERT_TRUE(protocol.FindDongle());
    }
    std::vector<check::TCheckRecord> History() const {
        return check::TCheckHistory(request.history, check::TCheckHistory::TAccess::Read)
            .Find({});
    }
    bool ReportsWritten() const {
        return fs::exists(request.report) || fs::exists(request.junit);
    }
    // Nothing in the folder but the history (and SQLite's files beside it).
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("checks.sqlite", 0) != 0) names.push_back(name);
        }
        return names;
    }

    sim::TPacedClock clock{100000, 2};
    sim::TSimSettings paced;  // the simulator keeps to the test's clock
    std::unique_ptr<sim::TDongleSimulator> simulator;
    TMiraWirelessProtocol protocol;
    TTestBench bench{protocol};
    fs::path dir;
    TListSink sink;
    TCheckRequest request;
    std::vector<std::string> steps;
    std::string stopAfter;
    bool stop = false;
};

TEST_F(TestBenchCheckTest, EachRecordReachesTheHistoryEverySinkAndBothReports) {
    Start(2);
    const TCheckSummary summary = bench.RunCheck(request);
    EXPECT_FALSE(summary.noConsole);
    ASSERT_EQ(summary.run.records.size(), 2u);
    EXPECT_EQ(summary.passed, 2u);
    EXPECT_TRUE(summary.AllPassedAndKept());

    const auto kept = History();
    ASSERT_EQ(kept.size(), 2u);
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].id, summary.run.records[0].id);
    EXPECT_EQ(sink.records[1].console, 2);
    std::ifstream json(request.report);
    const nlohmann::json report = nlohmann::json::parse(json);
    EXPECT_EQ(report["records"].size(), 2u);
    EXPECT_EQ(report["records"][1]["id"], sink.records[1].id);
    EXPECT_TRUE(fs::exists(request.junit));
}

TEST_F(TestBenchCheckTest, NoConsolePresentChecksNothingAndWritesNoReport) {
    Start(0);
    request.presentWaitMs = 500;
    const TCheckSummary summary = bench.RunCheck(request);
    EXPECT_TRUE(summary.noConsole);
    EXPECT_FALSE(summary.AllPassedAndKept());
    EXPECT_TRUE(summary.run.records.empty());
    EXPECT_TRUE(steps.empty());
    EXPECT_TRUE(sink.records.empty());
    EXPECT_TRUE(History().empty());
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// Each file that cannot be written refuses the run before the first console, naming the
// file, and leaves no report and no record behind.
TEST_F(TestBenchCheckTest, AHistoryOrAReportThatCannotBeWrittenRefusesTheRunBeforeAnyConsole) {
    Start(1);
    std::ofstream(dir / "file") << "in the way";
    const std::string underFile = (dir / "file" / "x").string();
    struct TCase {
        const char* what;
        std::string TCheckRequest::*field;
    };
    for (const TCase& c : {TCase{"history", &TCheckRequest::history},
                           TCase{"JSON report", &TCheckRequest::report},
                           TCase{"JUnit report", &TCheckRequest::junit}}) {
        SCOPED_TRACE(c.what);
        TCheckRequest refused = request;
        refused.*c.field = underFile;
        try {
            bench.RunCheck(refused);
            ADD_FAILURE() << "the run was not refused";
        } catch (const ECheckRefused& e) {
            EXPECT_NE(std::string(e.what()).find(underFile), std::string::npos) << e.what();
        }
        EXPECT_TRUE(steps.empty());
        EXPECT_TRUE(sink.records.empty());
        EXPECT_FALSE(ReportsWritten());
        EXPECT_EQ(Leftovers(), std::vector<std::string>{"file"});
    }
    // No case kept a record.
    EXPECT_TRUE(History().empty());
}

TEST_F(TestBenchCheckTest, ARecordASinkCannotKeepIsSaidAndTheOthersStillKeepIt) {
    Start(1);
    TListSink refusing("the broker is away");
    request.sinks = {&refusing, &sink};
    const TCheckSummary summary = bench.RunCheck(request);
    EXPECT_EQ(summary.passed, 1u);
    EXPECT_EQ(summary.notKept, std::vector<std::string>{"console 1: the broker is away"});
    EXPECT_FALSE(summary.AllPassedAndKept());
    EXPECT_EQ(History().size(), 1u);
    EXPECT_EQ(sink.records.size(), 1u);
    EXPECT_TRUE(fs::exists(request.report));
}

TEST_F(TestBenchCheckTest, ARunTheOperatorEndsKeepsTheCurrentRecordAsInterrupted) {
    Start(2);
    stopAfter = "keys";
    const TCheckSummary summary = bench.RunCheck(request);
    EXPECT_TRUE(summary.run.interrupted);
    EXPECT_FALSE(summary.AllPassedAndKept());
    ASSERT_EQ(summary.run.records.size(), 1u);  // console 2 was never begun
    EXPECT_EQ(summary.passed, 0u);
    EXPECT_EQ(steps, (std::vector<std::string>{"identity", "keys", "cardio", "total_rolls"}));

    const auto kept = History();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].outcome, check::TOutcome::Error);
    EXPECT_EQ(kept[0].message, "interrupted");
    EXPECT_EQ(kept[0].steps[2].message, "interrupted");
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].id, kept[0].id);
    std::ifstream json(request.report);
    EXPECT_EQ(nlohmann::json::parse(json)["run"]["interrupted"], true);
}

TEST_F(TestBenchCheckTest, APublisherSinkWithoutAPublisherKeepsNothingAndFailsNothing) {
    Start(1);
    TPublisherSink unpublished([] { return nullptr; });
    request.sinks = {&unpublished};
    const TCheckSummary summary = bench.RunCheck(request);
    EXPECT_TRUE(summary.AllPassedAndKept());
    EXPECT_EQ(History().size(), 1u);
}

}  // namespace
}  // namespace wct::testbench
