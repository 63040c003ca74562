// SPDX-License-Identifier: Apache-2.0
// `wct check` and `wct history` as separate processes against the dongle simulator: three
// registered consoles, the second refusing its keys test, the third losing its writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "check/check_history.h"
#include "run_process.h"
#include "sim/dongle_simulator.h"

namespace wct {
namespace {

namespace fs = std::filesystem;
using test::Lines;
using test::RunProcess;
using test::TProcessResult;

constexpr const char* kPlan = R"(
name = "quick"
reply_timeout_ms = 3000
[[step]]
kind = "identity"
[[step]]
kind = "keys"
[[step]]
kind = "memory"
address = 0x20
pattern = "A55A"
[[step]]
kind = "radio"
seconds = 1
expected_fps = 4
)";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class WctCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim::TDongleOptions options;
        for (uint8_t id = 1; id <= 3; ++id) {
            options.consoles.push_back(sim::DefaultConsole(id));
            options.consoles.back().joinedAtStart = true;
        }
        options.consoles[1].refused = {0x18};
        options.consoles[2].writesLost = true;
        simulator = new sim::TDongleSimulator(options);
        simulator->Start();
    }
    static void TearDownTestSuite() {
        delete simulator;
        simulator = nullptr;
    }
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("wct-check-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "plan.toml") << kPlan;
        // The memory journal and the outbox stay in the test's folder.
        setenv("XDG_STATE_HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_STATE_HOME");
        fs::remove_all(dir);
    }

    std::string In(const char* name) const { return (dir / name).string(); }
    static std::vector<std::string> Args(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", simulator->PortPath(), "--wait", "800"});
        return args;
    }
    static TProcessResult Wct(std::vector<std::string> args) {
        return RunProcess(WCT_BINARY, Args(std::move(args)), 60000);
    }

    static inline sim::TDongleSimulator* simulator = nullptr;
    fs::path dir;
};

TEST_F(WctCheckTest, CheckAllPrintsEveryStepKeepsTheRecordsAndWritesBothReports) {
    const TProcessResult r =
        Wct({"check", "--all", "--plan", In("plan.toml"), "--report", In("run.json"), "--junit",
             In("run.xml"), "--db", In("h.sqlite"), "--operator", "anna", "--station", "s1"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 12u) << r.out;
    EXPECT_EQ(lines[0].rfind("1 1048849 identity PASS 16/1048849/2.3 - ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[5].rfind("2 1049122 keys FAIL NACK ACK ", 0), 0u) << lines[5];
    EXPECT_EQ(lines[10].rfind("3 1049395 memory FAIL 0000 =A55A ", 0), 0u) << lines[10];
    EXPECT_NE(r.err.find("1 of 3 consoles passed"), std::string::npos) << r.err;

    const nlohmann::json report = nlohmann::json::parse(ReadText(dir / "run.json"));
    ASSERT_EQ(report["records"].size(), 3u);
    EXPECT_EQ(report["run"]["outcome"], "FAIL");
    EXPECT_EQ(report["records"][1]["steps"][1]["value"], "NACK");

    const std::string xml = ReadText(dir / "run.xml");
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "run.xml", nullptr, 0);
    ASSERT_NE(doc, nullptr) << xml;
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    const auto count = [&](const char* expression) {
        xmlXPathObjectPtr o =
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression), context);
        const double n = xmlXPathCastToNumber(o);
        xmlXPathFreeObject(o);
        return n;
    };
    EXPECT_EQ(count("count(/testsuites/testsuite)"), 3);
    EXPECT_EQ(count("count(//testcase)"), 12);
    EXPECT_EQ(count("count(//testcase/failure)"), 2) << r.out;
    xmlXPathFreeContext(context);
    xmlFreeDoc(doc);

    const TProcessResult failed =
        Wct({"history", "--db", In("h.sqlite"), "--serial", "1049122", "--json"});
    ASSERT_EQ(failed.exitCode, 0) << failed.err;
    const nlohmann::json records = nlohmann::json::parse(failed.out);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], report["records"][1]);

    const TProcessResult passed = Wct({"history", "--db", In("h.sqlite"), "--outcome", "PASS"});
    const auto rows = Lines(passed.out);
    ASSERT_EQ(rows.size(), 2u) << passed.out;
    EXPECT_NE(rows[1].find(" 1048849 1 PASS - s1 anna"), std::string::npos) << rows[1];

    const TProcessResult csv =
        Wct({"history", "--db", In("h.sqlite"), "--since", "2000-01-01", "--csv"});
    const auto csvRows = Lines(csv.out);
    ASSERT_EQ(csvRows.size(), 4u) << csv.out;
    EXPECT_EQ(csvRows[1].substr(0, 36), report["records"][2]["id"]);  // newest first
}

TEST_F(WctCheckTest, APassingConsoleExitsZeroIntoTheDefaultHistory) {
    // The data folder too: a history left there by an earlier bench would be taken on.
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    const TProcessResult r = Wct({"check", "--console", "1", "--plan", In("plan.toml")});
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 4u);
    EXPECT_TRUE(fs::exists(dir / "WirelessConsoleTest" / "checks.sqlite"));
}

TEST_F(WctCheckTest, BadPlansAndUnusableHistoriesAreRefusedBeforeAnyConsole) {
    std::ofstream(dir / "bad.toml") << "[[step]]\nkind = \"keys\"\n[[step]]\nkind = \"warp\"\n";
    const TProcessResult plan = Wct({"check", "--all", "--plan", In("bad.toml"), "--db", In("h")});
    EXPECT_EQ(plan.exitCode, 2);
    EXPECT_NE(plan.err.find("bad.toml:4: step 2 kind: 'warp'"), std::string::npos) << plan.err;
    EXPECT_FALSE(fs::exists(dir / "h"));

    const TProcessResult db =
        Wct({"check", "--all", "--plan", In("plan.toml"), "--db", dir.string()});
    EXPECT_EQ(db.exitCode, 2);
    EXPECT_EQ(db.out, "");
    EXPECT_NE(db.err.find("nothing checked"), std::string::npos) << db.err;

    const TProcessResult history = Wct({"history", "--db", In("none.sqlite")});
    EXPECT_EQ(history.exitCode, 1);
    EXPECT_NE(history.err.find("no such file"), std::string::npos);
}

// INT (Ctrl-C), TERM (kill) and HUP (the terminal closed) each end the run after the
// current step: its record is kept as interrupted with the step it did, in the history,
// the report and, with a broker that is away, the outbox; no report is left half made.
TEST_F(WctCheckTest, ASignalKeepsTheCurrentConsolesRecordAsInterrupted) {
    std::ofstream(dir / "long.toml") << "[[step]]\nkind = \"identity\"\n[[step]]\nkind = "
                                        "\"radio\"\nseconds = 600\n";
    struct TCase {
        int signal;
        bool published;
    };
    for (const TCase& c : {TCase{SIGINT, false}, TCase{SIGTERM, false}, TCase{SIGHUP, true}}) {
        SCOPED_TRACE(strsignal(c.signal));
        const fs::path run = dir / std::to_string(c.signal);
        fs::create_directories(run);
        std::vector<std::string> args{"check",
                                      "--console",
                                      "1",
                                      "--plan",
                                      In("long.toml"),
                                      "--db",
                                      (run / "h.sqlite").string(),
                                      "--report",
                                      (run / "run.json").string()};
        if (c.published)
            args.insert(args.end(), {"--broker", "mqtt://127.0.0.1:1", "--bench", "b"});
        setenv("XDG_STATE_HOME", run.c_str(), 1);
        bool sent = false;
        const TProcessResult r =
            RunProcess(WCT_BINARY, Args(args), 60000, [&](int pid, const std::string& out) {
                // The identity line says the check is under way.
                if (sent || out.find(" identity ") == std::string::npos) return;
                sent = true;
                kill(pid, c.signal);
            });
        setenv("XDG_STATE_HOME", dir.c_str(), 1);
        ASSERT_TRUE(sent) << r.err;
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("0 of 1 consoles passed (interrupted)"), std::string::npos) << r.err;

        const TProcessResult history =
            Wct({"history", "--db", (run / "h.sqlite").string(), "--json"});
        const nlohmann::json records = nlohmann::json::parse(history.out);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]["outcome"], "ERROR");
        EXPECT_EQ(records[0]["message"], "interrupted");
        EXPECT_EQ(records[0]["steps"][0]["outcome"], "PASS");
        EXPECT_EQ(records[0]["steps"][1]["message"], "interrupted");
        const nlohmann::json report = nlohmann::json::parse(ReadText(run / "run.json"));
        EXPECT_EQ(report["run"]["interrupted"], true);
        EXPECT_EQ(report["records"][0]["id"], records[0]["id"]);
        for (const auto& entry : fs::directory_iterator(run))
            EXPECT_NE(entry.path().filename().string().rfind(".run.json", 0), 0u) << entry.path();
        if (c.published) {
            std::vector<std::string> waiting;
            for (const auto& e : fs::directory_iterator(run / "WirelessConsoleTest/outbox/b"))
                if (e.path().extension() == ".rec") waiting.push_back(ReadText(e.path()));
            ASSERT_EQ(waiting.size(), 1u);
            EXPECT_NE(waiting[0].find(records[0]["id"].get<std::string>()), std::string::npos);
        }
    }
}

// What cannot be kept, and what is not there, each with its exit code and nothing lost
// unsaid: a history that fails its first record stops the run (4); another program's
// file refuses it before any console (2); a console asked for that is absent is said so
// within the wait, with no record (1).
TEST_F(WctCheckTest, UnkeptRecordsOtherFilesAndAbsentConsolesHaveTheirOwnExitCodes) {
    struct TCase {
        const char* what;
        const char* sql;  // run on the history before the check; none: no file
        bool full;        // every write to the history fails as on a full disk
        std::vector<std::string> args;
        int exitCode;
        size_t lines;
        const char* said;
        size_t kept;  // records in the history afterwards; SIZE_MAX: not a history
    };
    const TCase cases[] = {
        {"a full disk",
         nullptr,
         true,
         {"--all"},
         4,
         4,
         "the run stopped: 1 record was not kept in the history",
         0},
        {"another program's file",
         "CREATE TABLE notes(text); PRAGMA user_version=1;",
         false,
         {"--all"},
         2,
         0,
         "is not a check history",
         SIZE_MAX},
        {"an absent console",
         nullptr,
         false,
         {"--console", "9"},
         1,
         0,
         "console 9 is not present",
         0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string db = In((std::string(c.what) + ".sqlite").c_str());
        if (c.sql != nullptr) {
            sqlite3* other = nullptr;
            ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(other, c.sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(other);
        }
        if (c.full) {
            // SQLite's own error for a full disk, raised by the file on every record.
            { check::TCheckHistory made(db, check::TCheckHistory::TAccess::Write); }
            sqlite3* other = nullptr;
            ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(other,
                                   "CREATE TRIGGER full BEFORE INSERT ON checks BEGIN SELECT "
                                   "RAISE(ABORT, 'database or disk is full'); END",
                                   nullptr, nullptr, nullptr),
                      SQLITE_OK);
            sqlite3_close(other);
        }
        std::vector<std::string> args{"check", "--plan",   In("plan.toml"), "--db",
                                      db,      "--report", In("run.json")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        fs::remove(dir / "run.json");
        const TProcessResult r = Wct(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(Lines(r.out).size(), c.lines) << r.out;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("unknown-console"), std::string::npos) << r.err;
        // The stopped run's one record is in its report all the same.
        if (c.full)
            EXPECT_EQ(nlohmann::json::parse(ReadText(dir / "run.json"))["records"].size(), 1u);
        else
            EXPECT_FALSE(fs::exists(dir / "run.json"));
        if (c.kept == SIZE_MAX) continue;
        const TProcessResult history = Wct({"history", "--db", db, "--json"});
        EXPECT_EQ(nlohmann::json::parse(history.out).size(), c.kept) << history.err;
    }
}

}  // namespace
}  // namespace wct
