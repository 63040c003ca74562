// SPDX-License-Identifier: Apache-2.0
// `wct collect` between a real Mosquitto and a real PostgreSQL, with benches publishing
// through the bench's own publisher: every record lands once, whatever stops meanwhile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <mosquitto.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "central/central_history.h"
#include "central/sample_records.h"
#include "central/test_postgres.h"
#include "check/check_history.h"
#include "publish/mqtt_publisher.h"
#include "publish/test_broker.h"
#include "run_process.h"

namespace wct::test {
namespace {

using check::TCheckRecord;
using check::TOutcome;

// Waits for `done`, bounded so that a fault fails the test instead of hanging it.
bool WaitUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int Count(const std::string& text, const std::string& part) {
    int found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// `wct collect` as a process of its own, its output in files, so that it can be killed
// at any moment.
class TCollectorProcess {
public:
    TCollectorProcess(const std::vector<std::string>& args, const std::string& dir)
        : out_(dir + "/collect-" + std::to_string(++runs_) + ".out"), err_(out_ + ".err") {
        pid_ = fork();
        if (pid_ == 0) {
            dup2(open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            std::vector<char*> argv = {const_cast<char*>(WCT_BINARY)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(WCT_BINARY, argv.data());
            _exit(127);
        }
    }
    ~TCollectorProcess() {
        if (pid_ > 0) End(SIGKILL);
    }
    // Waits until stderr holds `text` `count` times.
    bool WaitForErr(const std::string& text, int count = 1) const {
        return WaitUntil([&] { return Count(Err(), text) >= count; });
    }
    std::string Err() const { return ReadFile(err_); }
    std::string Out() const { return ReadFile(out_); }
    // The exit status, or 128 + the signal that ended it.
    int End(int signal) {
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    static inline int runs_ = 0;
    std::string out_;
    std::string err_;
    pid_t pid_ = -1;
};

// Publishes one message with QoS 1, as any client could, and returns when the broker took
// it.
void PublishRaw(int port, const std::string& topic, const std::string& payload) {
    mosquitto_lib_init();
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    bool acknowledged = false;
    mosquitto_user_data_set(client, &acknowledged);
    mosquitto_publish_callback_set(
        client, [](mosquitto*, void* done, int) { *static_cast<bool*>(done) = true; });
    ASSERT_EQ(mosquitto_connect(client, "127.0.0.1", port, 10), MOSQ_ERR_SUCCESS);
    ASSERT_EQ(mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                payload.data(), 1, false),
              MOSQ_ERR_SUCCESS);
    for (int i = 0; i < 600 && !acknowledged; ++i) mosquitto_loop(client, 100, 1);
    mosquitto_disconnect(client);
    mosquitto_destroy(client);
    ASSERT_TRUE(acknowledged);
}

class CollectorTest : public ::testing::Test {
protected:
    void SetUp() override { broker.Start(); }

    std::unique_ptr<TCollectorProcess> StartCollector() {
        auto collector = std::make_unique<TCollectorProcess>(
            std::vector<std::string>{"collect", "--broker", broker.Url(), "--db", pg.Url()},
            pg.Dir());
        // Subscribed: from here on the broker keeps what comes for it.
        EXPECT_TRUE(collector->WaitForErr("collecting wct/+/check/+")) << collector->Err();
        return collector;
    }

    // A bench publishing as `wct check --broker` does, with its outbox of its own.
    std::unique_ptr<publish::TMqttPublisher> Bench(const std::string& name) {
        publish::TPublisherSettings s;
        s.broker = publish::ParseBrokerUrl(broker.Url());
        s.bench = name;
        s.outboxDir = pg.Dir() + "/outbox-" + name;
        s.firstRetry = std::chrono::milliseconds(100);
        s.longestRetry = std::chrono::milliseconds(400);
        auto bench = std::make_unique<publish::TMqttPublisher>(s);
        bench->Start();
        return bench;
    }

    static void Publish(publish::TMqttPublisher& bench, const TCheckRecord& r) {
        bench.PublishCheck({r.id, check::SerialLabel(r), check::RecordToJson(r).dump()});
    }

    int Stored(const std::string& id) {
        return std::stoi(pg.Query("SELECT count(*) FROM checks WHERE id = '" + id + "'").at(0));
    }
    int Records() { return std::stoi(pg.Query("SELECT count(*) FROM checks").at(0)); }
    bool AllStored(const std::vector<TCheckRecord>& records) {
        return WaitUntil([&] {
            for (const TCheckRecord& r : records)
                if (Stored(r.id) == 0) return false;
            return true;
        });
    }

    TTestPostgres pg;
    TTestBroker broker;
};

TEST_F(CollectorTest, ThreeBenchesRecordsLandOnceAsEachBenchsOwnHistoryHoldsThem) {
    auto collector = StartCollector();
    std::vector<TCheckRecord> all;
    const std::vector<std::string> names = {"bench-a", "bench-b", "bench-c"};
    for (const std::string& name : names) {
        auto bench = Bench(name);
        check::TCheckHistory local(pg.Dir() + "/" + name + ".sqlite",
                                   check::TCheckHistory::TAccess::Write);
        for (int i = 0; i < 4; ++i) {
            const TCheckRecord r =
                SampleRecord(1000 + i, "2026-12-0" + std::to_string(i + 1) + "T08:00:00.000Z",
                             i == 2 ? TOutcome::Fail : TOutcome::Pass, name);
            local.Add(r);
            Publish(*bench, r);
            // An outbox sent again after a lost acknowledgement: the same record twice.
            if (i == 0) Publish(*bench, r);
            all.push_back(r);
        }
        bench->Stop(std::chrono::seconds(10));
        EXPECT_TRUE(bench->Counters().checksAcknowledged == 5);
    }
    ASSERT_TRUE(AllStored(all));
    EXPECT_EQ(collector->End(SIGTERM), 0) << collector->Err();
    EXPECT_EQ(collector->Out(), "stored 12 again 3 rejected 0\n");
    EXPECT_EQ(pg.Query("SELECT count(*) FROM steps"), std::vector<std::string>{"24"});

    // What `wct history` shows of the line, bench by bench, is what that bench kept.
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const TProcessResult central = RunProcess(
            WCT_BINARY, {"history", "--json", "--db", pg.Url(), "--station", name}, 30000);
        const TProcessResult local = RunProcess(
            WCT_BINARY, {"history", "--json", "--db", pg.Dir() + "/" + name + ".sqlite"}, 30000);
        EXPECT_EQ(central.exitCode, 0) << central.err;
        EXPECT_EQ(central.out, local.out);
        EXPECT_EQ(Count(central.out, "\"run_id\""), 4);
    }
}

TEST_F(CollectorTest, TwoSimulatedBenchesChecksShowCentrallyAsEachBenchKeptThem) {
    auto collector = StartCollector();
    // Each bench's outbox in the test's folder.
    setenv("XDG_STATE_HOME", pg.Dir().c_str(), 1);
    const std::string plan = pg.Dir() + "/plan.toml";
    std::ofstream(plan) << "[[step]]\nkind = \"identity\"\n[[step]]\nkind = \"keys\"\n";
    std::vector<std::thread> benches;
    std::map<std::string, TProcessResult> runs;
    std::mutex runsLock;
    for (const std::string name : {"bench-a", "bench-b"}) {
        benches.emplace_back([&, name] {
            TProcessResult run =
                RunProcess(WCT_BINARY,
                           {"--simulate", "check", "--all", "--plan", plan, "--db",
                            pg.Dir() + "/" + name + ".sqlite", "--station", name, "--operator",
                            "anna", "--broker", broker.Url(), "--bench", name},
                           60000);
            std::lock_guard lock(runsLock);
            runs[name] = std::move(run);
        });
    }
    for (std::thread& bench : benches) bench.join();
    unsetenv("XDG_STATE_HOME");
    for (const auto& [name, run] : runs) {
        SCOPED_TRACE(name);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const TProcessResult local = RunProcess(
            WCT_BINARY, {"history", "--json", "--db", pg.Dir() + "/" + name + ".sqlite"}, 30000);
        const int records = Count(local.out, "\"run_id\"");
        EXPECT_GT(records, 1);
        ASSERT_TRUE(WaitUntil([&] {
            return std::stoi(pg.Query("SELECT count(*) FROM checks WHERE bench = '" + name + "'")
                                 .at(0)) == records;
        }));
        const TProcessResult central = RunProcess(
            WCT_BINARY, {"history", "--json", "--db", pg.Url(), "--station", name}, 30000);
        EXPECT_EQ(central.out, local.out);
        const TProcessResult summary = RunProcess(
            WCT_BINARY, {"history", "--summary", "--csv", "--db", pg.Url(), "--station", name},
            30000);
        const TProcessResult localSummary = RunProcess(
            WCT_BINARY,
            {"history", "--summary", "--csv", "--db", pg.Dir() + "/" + name + ".sqlite"}, 30000);
        EXPECT_EQ(summary.out, localSummary.out);
    }
}

TEST_F(CollectorTest, KilledBetweenDeliveryAndCommitItLosesNothingAndStoresNothingTwice) {
    auto collector = StartCollector();
    auto bench = Bench("bench-a");
    const TCheckRecord first = SampleRecord(1, "2026-12-01T08:00:00.000Z", TOutcome::Pass, "a");
    Publish(*bench, first);
    ASSERT_TRUE(AllStored({first}));

    // The next record's insert waits behind a lock the test holds: delivered, not committed.
    PGconn* holder = PQconnectdb(pg.Url().c_str());
    PQclear(PQexec(holder, "BEGIN; LOCK TABLE checks IN EXCLUSIVE MODE"));
    const TCheckRecord second = SampleRecord(2, "2026-12-01T09:00:00.000Z", TOutcome::Pass, "a");
    Publish(*bench, second);
    ASSERT_TRUE(WaitUntil([&] {
        return pg.Query(
                     "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                     "AND query LIKE 'INSERT INTO checks%'")
                   .at(0) == "1";
    }));
    EXPECT_EQ(collector->End(SIGKILL), 128 + SIGKILL);
    PQclear(PQexec(holder, "ROLLBACK"));
    PQfinish(holder);

    // The broker had no acknowledgement: it sends the record again to the next run.
    auto next = StartCollector();
    ASSERT_TRUE(AllStored({second}));
    const TCheckRecord third = SampleRecord(3, "2026-12-01T10:00:00.000Z", TOutcome::Pass, "a");
    Publish(*bench, third);
    ASSERT_TRUE(AllStored({third}));
    EXPECT_EQ(Records(), 3);
    EXPECT_EQ(Stored(second.id), 1);
    EXPECT_EQ(next->End(SIGTERM), 0);
    EXPECT_EQ(next->Out(), "stored 2 again 0 rejected 0\n");
}

TEST_F(CollectorTest, PostgresDownAndBackLosesNothingAndTheLossIsToldOnce) {
    auto collector = StartCollector();
    auto bench = Bench("bench-a");
    const TCheckRecord before = SampleRecord(1, "2026-12-01T08:00:00.000Z", TOutcome::Pass, "a");
    Publish(*bench, before);
    ASSERT_TRUE(AllStored({before}));

    pg.Stop();
    std::vector<TCheckRecord> meanwhile;
    for (int i = 0; i < 3; ++i) {
        meanwhile.push_back(SampleRecord(10 + i, "2026-12-02T08:00:00.000Z", TOutcome::Fail, "a"));
        Publish(*bench, meanwhile.back());
    }
    ASSERT_TRUE(collector->WaitForErr("lost PostgreSQL")) << collector->Err();
    pg.Start();
    ASSERT_TRUE(AllStored(meanwhile)) << collector->Err();
    EXPECT_EQ(Records(), 4);
    const std::string err = collector->Err();
    EXPECT_EQ(Count(err, "lost PostgreSQL"), 1) << err;
    EXPECT_EQ(Count(err, "PostgreSQL " + central::ShownUrl(pg.Url()) + " is back"), 1) << err;
    EXPECT_EQ(Count(err, "trying again in the background"), 0) << err;
    EXPECT_EQ(collector->End(SIGTERM), 0);
}

TEST_F(CollectorTest, ABrokerRestartLosesNothingWhetherTheCollectorIsThereOrNot) {
    auto collector = StartCollector();
    auto bench = Bench("bench-a");
    const TCheckRecord before = SampleRecord(1, "2026-12-01T08:00:00.000Z", TOutcome::Pass, "a");
    Publish(*bench, before);
    ASSERT_TRUE(AllStored({before}));

    // Broker down while the bench checks: its outbox keeps the record until it is back.
    broker.Stop();
    const TCheckRecord during = SampleRecord(2, "2026-12-01T09:00:00.000Z", TOutcome::Pass, "a");
    Publish(*bench, during);
    ASSERT_TRUE(collector->WaitForErr("lost the broker")) << collector->Err();
    broker.Start();
    ASSERT_TRUE(AllStored({during})) << collector->Err();
    EXPECT_TRUE(collector->WaitForErr("connected to the broker"));

    // The collector away, the broker restarted: the session it keeps holds the record.
    EXPECT_EQ(collector->End(SIGTERM), 0);
    const TCheckRecord away = SampleRecord(3, "2026-12-01T10:00:00.000Z", TOutcome::Pass, "a");
    Publish(*bench, away);
    bench->Stop(std::chrono::seconds(10));
    ASSERT_EQ(bench->Counters().checksAcknowledged, 3u);
    broker.Stop();
    broker.Start();
    auto next = StartCollector();
    ASSERT_TRUE(AllStored({away}));
    EXPECT_EQ(Records(), 3);
}

TEST_F(CollectorTest, WhatIsNoRecordIsSetAsideToldAndStopsNoOther) {
    auto collector = StartCollector();
    const TCheckRecord kept = SampleRecord(5, "2026-12-01T08:00:00.000Z", TOutcome::Pass, "a");
    nlohmann::json json = check::RecordToJson(kept);
    PublishRaw(broker.Port(), "wct/bench-a/check/5", json.dump());
    ASSERT_TRUE(AllStored({kept}));

    nlohmann::json otherFormat = json;
    otherFormat["format_version"] = 3;
    otherFormat["id"] = check::NewRecordId();
    nlohmann::json noSteps = json;
    noSteps.erase("steps");
    noSteps["id"] = check::NewRecordId();
    nlohmann::json badOutcome = json;
    badOutcome["outcome"] = "MAYBE";
    badOutcome["id"] = check::NewRecordId();
    nlohmann::json reused = json;
    reused["outcome"] = "FAIL";
    const struct {
        const char* name;
        std::string payload;
        const char* told;
    } cases[] = {
        {"cut short", json.dump().substr(0, 40), "its payload is no JSON text"},
        {"no object", "[1, 2]", "its payload is no JSON object"},
        {"another format", otherFormat.dump(), "its format_version is 3, this wct reads 2"},
        {"a field missing", noSteps.dump(), "it is no check record"},
        {"an unknown outcome", badOutcome.dump(), "outcome 'MAYBE' is not PASS, FAIL or ERROR"},
        {"an id reused", reused.dump(), "already holds another record, which is kept"},
    };
    for (const auto& c : cases) PublishRaw(broker.Port(), "wct/bench-a/check/5", c.payload);
    const TCheckRecord after = SampleRecord(6, "2026-12-01T09:00:00.000Z", TOutcome::Pass, "a");
    PublishRaw(broker.Port(), "wct/bench-a/check/6", check::RecordToJson(after).dump());
    ASSERT_TRUE(AllStored({after}));

    const std::string err = collector->Err();
    const std::vector<std::string> payloads =
        pg.Query("SELECT convert_from(payload, 'UTF8') FROM rejected ORDER BY seq");
    const std::vector<std::string> reasons = pg.Query("SELECT reason FROM rejected ORDER BY seq");
    ASSERT_EQ(payloads.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(payloads[i], cases[i].payload);
        EXPECT_NE(reasons[i].find(cases[i].told), std::string::npos) << reasons[i];
        EXPECT_NE(err.find(cases[i].told), std::string::npos) << err;
    }
    // The first record under the reused id stays as it was.
    EXPECT_EQ(pg.Query("SELECT outcome FROM checks WHERE id = '" + kept.id + "'"),
              std::vector<std::string>{"PASS"});
    EXPECT_EQ(Records(), 2);
    EXPECT_EQ(collector->End(SIGTERM), 0);
    EXPECT_EQ(collector->Out(), "stored 2 again 0 rejected 6\n");
}

class SummaryTest : public ::testing::Test {
protected:
    TTestPostgres pg;
};

TEST_F(SummaryTest, GivesTheKnownYieldFromEitherStore) {
    // Day 1 at station a: consoles 1 and 2 pass first time, 3 fails then passes (a retest);
    // day 2 at station b: console 4 fails, 5 errs in radio, 6 passes. Console 7 has no
    // serial and passes.
    const struct {
        int32_t serial;
        const char* started;
        TOutcome outcome;
        const char* station;
    } checks[] = {
        {1, "2026-12-01T08:00:00.000Z", TOutcome::Pass, "a"},
        {2, "2026-12-01T08:10:00.000Z", TOutcome::Pass, "a"},
        {3, "2026-12-01T08:20:00.000Z", TOutcome::Fail, "a"},
        {3, "2026-12-01T08:30:00.000Z", TOutcome::Pass, "a"},
        {4, "2026-12-02T08:00:00.000Z", TOutcome::Fail, "b"},
        {5, "2026-12-02T08:10:00.000Z", TOutcome::Error, "b"},
        {6, "2026-12-02T08:20:00.000Z", TOutcome::Pass, "b"},
        {0, "2026-12-02T08:30:00.000Z", TOutcome::Pass, "b"},
    };
    const std::string file = pg.Dir() + "/bench.sqlite";
    {
        check::TCheckHistory local(file, check::TCheckHistory::TAccess::Write);
        central::TCentralHistory central(pg.Url(), central::TCentralHistory::TAccess::Write);
        for (const auto& c : checks) {
            TCheckRecord r = SampleRecord(c.serial, c.started, c.outcome, c.station);
            if (c.serial == 0) r.serial.reset();
            local.Add(r);
            central.Add(r, c.station);
        }
    }
    const struct {
        const char* format;
        std::string expected;
    } formats[] = {
        {"--summary",
         "day station consoles first_pass yield records\n"
         "2026-12-01 a 3 2 66.7% 4\n"
         "2026-12-02 b 4 2 50.0% 4\n"
         "\nstep failed erred\n"
         "radio 2 1\n"},
        {"--csv",
         "day,station,consoles,first_pass,yield_percent,records\n"
         "2026-12-01,a,3,2,66.7,4\n"
         "2026-12-02,b,4,2,50.0,4\n"
         "\nstep,failed,erred\n"
         "radio,2,1\n"},
        {"--json", R"({"steps":[{"erred":1,"failed":2,"step":"radio"}],)"
                   R"("yield":[{"consoles":3,"day":"2026-12-01","first_pass":2,"records":4,)"
                   R"("station":"a","yield":0.6667},{"consoles":4,"day":"2026-12-02",)"
                   R"("first_pass":2,"records":4,"station":"b","yield":0.5}]})"},
    };
    for (const auto& f : formats) {
        for (const std::string& db : {file, pg.Url()}) {
            SCOPED_TRACE(std::string(f.format) + " " + db);
            std::vector<std::string> args = {"history", "--summary", "--db", db};
            if (std::string(f.format) != "--summary") args.push_back(f.format);
            const TProcessResult result = RunProcess(WCT_BINARY, args, 30000);
            EXPECT_EQ(result.exitCode, 0) << result.err;
            if (std::string(f.format) == "--json")
                EXPECT_EQ(nlohmann::json::parse(result.out).dump(), f.expected);
            else
                EXPECT_EQ(result.out, f.expected);
        }
    }
    // The filters apply first: station a alone.
    const TProcessResult a =
        RunProcess(WCT_BINARY, {"history", "--summary", "--station", "a", "--db", pg.Url()}, 30000);
    EXPECT_EQ(Count(a.out, "2026-12-02"), 0);
    EXPECT_EQ(Count(a.out, "2026-12-01 a 3 2 66.7% 4"), 1);
}

TEST_F(CollectorTest, ADatabaseOfANewerSchemaEndsTheCollectorWithWhy) {
    { central::TCentralHistory made(pg.Url(), central::TCentralHistory::TAccess::Write); }
    pg.Query("UPDATE wct_schema SET version = 2");
    const TProcessResult refused =
        RunProcess(WCT_BINARY, {"collect", "--broker", broker.Url(), "--db", pg.Url()}, 30000);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("written by a newer wct (schema 2, this one knows 1)"),
              std::string::npos)
        << refused.err;
}

}  // namespace
}  // namespace wct::test
