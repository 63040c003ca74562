// SPDX-License-Identifier: Apache-2.0
// The bench core's production check against the dongle simulator, in virtual time, with a
// real SQLite history and real report files: what refuses a run does so before the first
// console and leaves nothing behind, every record reaches the history and every sink, a
// run the operator ends keeps its current record as interrupted, a record the history
// cannot keep stops the run, a console asked for that is absent is not checked, and a
// memory step cut off before its restore is put right by the next run.
#include "testbench/testbench.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check/check_history.h"
#include "common/tick_count.h"
#include "protocol/wire_tap.h"
#include "protocol/wireless_frame.h"
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
        dir =
            fs::temp_directory_path() /
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
        request.journal = (dir / "held").string();
        request.sinks = {&sink};
        request.OnStep = [this](const check::TCheckRecord&, const check::TStepResult& s) {
            steps.push_back(s.name);
            if (s.name == stopAfter) stop = true;
        };
        request.Interrupted = [this] { return stop; };
    }
    void TearDown() override {
        SetPortSource(nullptr);
        if (mounted) umount2((dir / "full").c_str(), MNT_DETACH);
        fs::remove_all(dir);
    }

    // The dongle with consoles 1 to `count` registered; none present when 0. Console 1
    // holds `scratch` at 0x20.
    void Start(uint8_t count, const std::string& scratch = "") {
        sim::TDongleOptions options;
        options.consoles.resize(count);
        for (uint8_t i = 0; i < count; ++i) {
            options.consoles[i] = sim::DefaultConsole(static_cast<uint8_t>(i + 1));
            options.consoles[i].joinedAtStart = true;
        }
        if (count > 0)
            std::copy(scratch.begin(), scratch.end(), options.consoles[0].memory.begin() + 0x20);
        simulator = std::make_unique<sim::TDongleSimulator>(options, paced);
        simulator->Start();
        protocol.SetPortDef(simulator->PortPath());
        ASSERT_TRUE(protocol.FindDongle());
    }
    std::vector<check::TCheckRecord> History() const {
        return check::TCheckHistory(request.history, check::TCheckHistory::TAccess::Read).Find({});
    }
    bool ReportsWritten() const { return fs::exists(request.report) || fs::exists(request.junit); }
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
    TTestBench bench;
    TMiraWirelessProtocol& protocol = bench.Protocol();
    fs::path dir;
    TListSink sink;
    TCheckRequest request;
    std::vector<std::string> steps;
    std::string stopAfter;
    bool stop = false;
    bool mounted = false;
};

// Another connection to the history, as another program holds it.
class TSecondConnection {
public:
    explicit TSecondConnection(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
    ~TSecondConnection() { sqlite3_close(db_); }
    TSecondConnection(const TSecondConnection&) = delete;
    TSecondConnection& operator=(const TSecondConnection&) = delete;
    int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

private:
    sqlite3* db_ = nullptr;
};

// A history that cannot keep console 1's record, and the run's end: the run stops before
// console 2, says so, and the record is in the sinks and the report all the same.
TEST_F(TestBenchCheckTest, ARecordTheHistoryCannotKeepStopsTheRunBeforeTheNextConsole) {
    struct TCase {
        const char* what;
        const char* said;
    };
    Start(2);
    const fs::path full = dir / "full";
    fs::create_directories(full);
    // A small tmpfs when this process may mount one; else the write error is raised by
    // SQLite itself, as a full disk makes it.
    mounted = mount("tmpfs", full.c_str(), "tmpfs", 0, "size=256k") == 0;
    for (const TCase& c :
         {TCase{"locked", "database is locked"}, TCase{"disk full", "database or disk is full"}}) {
        SCOPED_TRACE(c.what);
        const bool diskFull = std::string(c.what) == "disk full";
        TCheckRequest run = request;
        run.history = ((diskFull ? full : dir) / (std::string(c.what) + ".sqlite")).string();
        TListSink kept;
        run.sinks = {&kept};
        std::unique_ptr<TSecondConnection> other;
        std::vector<std::string> done;
        run.OnStep = [&](const check::TCheckRecord& r, const check::TStepResult& s) {
            done.push_back(std::to_string(r.console) + " " + s.name);
            if (s.name != "total_rolls" || other) return;
            other = std::make_unique<TSecondConnection>(run.history);
            if (!diskFull) {
                ASSERT_EQ(other->Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
            } else if (mounted) {
                std::ofstream filler(full / "filler", std::ios::binary);
                const std::string block(4096, 'x');
                while (filler.write(block.data(), block.size()) && filler.flush()) {
                }
            } else {
                ASSERT_EQ(other->Exec("CREATE TRIGGER full BEFORE INSERT ON checks BEGIN "
                                      "SELECT RAISE(ABORT, 'database or disk is full'); END"),
                          SQLITE_OK);
            }
        };
        const uint32_t before = GetTickCount();
        const TCheckSummary summary = bench.RunCheck(run);
        EXPECT_EQ(done.back(), "1 total_rolls");  // console 2 was never begun
        ASSERT_EQ(summary.run.records.size(), 1u);
        EXPECT_EQ(summary.unkept, 1u);
        ASSERT_EQ(summary.notKept.size(), 1u);
        EXPECT_NE(summary.notKept[0].find(c.said), std::string::npos) << summary.notKept[0];
        EXPECT_FALSE(summary.AllPassedAndKept());
        if (!diskFull) {
            // It waited for the lock, on the tick counter.
            EXPECT_GE(GetTickCount() - before, check::TCheckHistory::kBusyTimeoutMs);
            other->Exec("ROLLBACK");
        }
        other.reset();
        fs::remove(full / "filler");
        ASSERT_EQ(kept.records.size(), 1u);
        EXPECT_EQ(kept.records[0].id, summary.run.records[0].id);
        EXPECT_TRUE(check::TCheckHistory(run.history, check::TCheckHistory::TAccess::Read)
                        .Find({})
                        .empty());
        std::ifstream json(run.report);
        EXPECT_EQ(nlohmann::json::parse(json)["records"].size(), 1u);
    }
}

// Held for less than the busy time-out, the history waits and keeps every record.
TEST_F(TestBenchCheckTest, AHistoryLockedForAMomentWaitsAndKeepsEveryRecord) {
    Start(2);
    std::unique_ptr<TSecondConnection> other;
    std::atomic<uint32_t> lockedAt{0};
    request.OnStep = [&](const check::TCheckRecord& r, const check::TStepResult& s) {
        if (r.console != 1 || s.name != "total_rolls") return;
        other = std::make_unique<TSecondConnection>(request.history);
        ASSERT_EQ(other->Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
        lockedAt = GetTickCount();
    };
    // The other program lets go a second after it took the lock.
    std::atomic<bool> released{false};
    std::thread release([&] {
        while (!released) {
            const uint32_t at = lockedAt;
            if (at != 0 && GetTickCount() - at >= 1000) {
                other->Exec("ROLLBACK");
                released = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const TCheckSummary summary = bench.RunCheck(request);
    released = true;
    release.join();
    EXPECT_TRUE(summary.AllPassedAndKept()) << (summary.notKept.empty() ? "" : summary.notKept[0]);
    EXPECT_EQ(History().size(), 2u);
}

// Asked for by ID, a console that sends no measures is found absent within the wait that
// --all looks for consoles: nothing is spent on its time-outs, and it gets no record.
TEST_F(TestBenchCheckTest, AnAbsentConsoleIsFoundAbsentWithinTheWaitAndGetsNoRecord) {
    Start(2);
    request.presentWaitMs = 1000;
    struct TCase {
        std::vector<uint8_t> asked;
        std::vector<uint8_t> absent;
        size_t records;
    };
    for (const TCase& c : {TCase{{7}, {7}, 0}, TCase{{2, 7}, {7}, 1}, TCase{{1, 2}, {}, 2}}) {
        SCOPED_TRACE(::testing::PrintToString(c.asked));
        TCheckRequest run = request;
        run.consoles = c.asked;
        sink.records.clear();
        fs::remove(run.report);
        const uint32_t before = GetTickCount();
        std::optional<uint32_t> firstStep;
        run.OnStep = [&](const check::TCheckRecord&, const check::TStepResult&) {
            if (!firstStep) firstStep = GetTickCount() - before;
        };
        const TCheckSummary summary = bench.RunCheck(run);
        EXPECT_EQ(summary.absent, c.absent);
        EXPECT_EQ(summary.run.records.size(), c.records);
        EXPECT_EQ(sink.records.size(), c.records);
        EXPECT_EQ(summary.noConsole, c.records == 0);
        EXPECT_EQ(summary.AllPassedAndKept(), c.absent.empty());
        // Consoles are looked for once, for the wait at most: then the first step began.
        if (firstStep)
            EXPECT_LE(*firstStep, request.presentWaitMs + 1000u);
        else
            EXPECT_LE(GetTickCount() - before, request.presentWaitMs + 500u);
        EXPECT_EQ(fs::exists(run.report), c.records > 0);
    }
    EXPECT_EQ(History().size(), 3u);
}

// Sees the pattern write go out, notes what the journal held then, and unplugs the dongle,
// as a run killed between the pattern and its restore leaves the console.
class TUnplugOnPatternWrite : public TMiraWireTap {
public:
    TUnplugOnPatternWrite(sim::TDongleSimulator& simulator, std::string journal)
        : simulator_(simulator), journal_(std::move(journal)) {}
    void Written(const std::string& bytes) override {
        if (unplugged || bytes.size() < 2 || static_cast<uint8_t>(bytes[1]) != mcWriteValue) return;
        for (const auto& entry : fs::directory_iterator(journal_)) {
            std::ifstream file(entry.path());
            std::string line;
            std::getline(file, line);
            heldAtWrite.push_back(entry.path().filename().string() + " " + line);
        }
        unplugged = true;
        simulator_.Vanish();
    }
    void Read(const char*, int) override {}
    bool unplugged = false;
    std::vector<std::string> heldAtWrite;

private:
    sim::TDongleSimulator& simulator_;
    std::string journal_;
};

TEST_F(TestBenchCheckTest, AMemoryStepCutOffBeforeItsRestoreIsPutRightByTheNextRun) {
    Start(1, "\x12\x34");
    request.plan = check::ParsePlan(
        "name = \"m\"\nreply_timeout_ms = 300\n[[step]]\nkind = \"identity\"\n[[step]]\n"
        "kind = \"memory\"\naddress = 0x20\npattern = \"A55A\"\n[[step]]\nkind = \"keys\"\n",
        "m.toml");
    TUnplugOnPatternWrite unplug(*simulator, request.journal);
    protocol.SetWireTap(&unplug);
    const TCheckSummary cut = bench.RunCheck(request);
    protocol.SetWireTap(nullptr);
    ASSERT_TRUE(unplug.unplugged);
    const std::string serial = std::to_string(*cut.run.records.at(0).serial);
    // On disk before the pattern went out.
    EXPECT_EQ(unplug.heldAtWrite, std::vector<std::string>{"serial-" + serial + "-0020 1234"});
    // The lost dongle ends the run; the record says so, with the steps it did.
    EXPECT_TRUE(cut.run.interrupted);
    const auto kept = History();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].message, "interrupted: dongle lost");
    EXPECT_EQ(kept[0].steps.at(0).outcome, check::TOutcome::Pass);
    EXPECT_NE(kept[0].steps.at(1).message.find("held 1234 at 0020, not restored"),
              std::string::npos)
        << kept[0].steps.at(1).message;
    EXPECT_EQ(kept[0].steps.at(2).message, "dongle lost");
    EXPECT_EQ(sink.records.at(0).id, kept[0].id);

    simulator->Return();
    protocol.SetPortDef(simulator->PortPath());
    ASSERT_TRUE(protocol.FindDongle());
    const TCheckSummary next = bench.RunCheck(request);
    ASSERT_EQ(next.run.records.size(), 1u);
    const check::TStepResult& memory = next.run.records[0].steps.at(1);
    EXPECT_EQ(memory.outcome, check::TOutcome::Pass) << memory.message;
    EXPECT_EQ(memory.message,
              "put back 1234 at 0020, left holding the pattern by a run that ended before "
              "restoring it");
    EXPECT_TRUE(fs::is_empty(request.journal));
    ASSERT_TRUE(protocol.ReadValue(1, 0x20, 2));
    EXPECT_EQ(protocol.Consoles()[1].Data[0], 0x12);
    EXPECT_EQ(protocol.Consoles()[1].Data[1], 0x34);
}

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
    for (const TCase& c :
         {TCase{"history", &TCheckRequest::history}, TCase{"JSON report", &TCheckRequest::report},
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
