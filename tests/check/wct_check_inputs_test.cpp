// SPDX-License-Identifier: Apache-2.0
// `wct check` as a separate process against the dongle simulator: what it is given to read
// and to write, refused before the first console when it cannot serve, and each report
// written the way its path asks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "check/check_history.h"
#include "run_process.h"
#include "sim/dongle_simulator.h"

namespace wct {
namespace {

namespace fs = std::filesystem;
using test::RunProcess;
using test::TProcessResult;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class WctCheckInputs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim::TDongleOptions options;
        options.consoles.push_back(sim::DefaultConsole(1));
        options.consoles.back().joinedAtStart = true;
        simulator = new sim::TDongleSimulator(options);
        simulator->Start();
    }
    static void TearDownTestSuite() {
        delete simulator;
        simulator = nullptr;
    }
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("wct-inputs-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "plan.toml")
            << "reply_timeout_ms = 500\n[[step]]\nkind = \"identity\"\n[[step]]\nkind = \"keys\"\n";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string In(const char* name) const { return (dir / name).string(); }
    TProcessResult Check(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--port", simulator->PortPath(), "check", "--console", "1",
                                   "--plan", In("plan.toml"), "--db", In("h.sqlite")});
        return RunProcess(WCT_BINARY, args, 60000);
    }

    static inline sim::TDongleSimulator* simulator = nullptr;
    fs::path dir;
};

// Each is refused with exit 2 and its reason, before a console is asked anything.
TEST_F(WctCheckInputs, WhatCannotServeIsRefusedBeforeTheFirstConsole) {
    ASSERT_EQ(mkfifo(In("plan.fifo").c_str(), 0600), 0);
    struct TCase {
        std::vector<std::string> args;
        const char* reason;
    };
    const TCase cases[] = {
        {{"--report", dir.string()}, "is a folder"},
        {{"--junit", In("missing/run.xml")}, "No such file or directory"},
        {{"--report", In("run.json"), "--junit", In("run.json/x.xml")}, "Not a directory"},
        {{"--operator", "anna\n2026-12-08T10:00:00.000Z 99 1 PASS - bench anna"},
         "--operator holds a control character"},
        {{"--operator", "anna\tb"}, "control character"},
        {{"--station", ""}, "--station is empty"},
        {{"--station", ".."}, "'..' is no name"},
        {{"--operator", "caf\xE9"}, "not valid UTF-8"},
        {{"--broker", "mqtt://127.0.0.1:1", "--bench", "."}, "--bench '.' is no name"},
        {{"--plan", In("plan.fifo")}, "not a regular file"},
        {{"--plan", "/dev/zero"}, "not a regular file"},
    };
    std::ofstream(dir / "run.json") << "{}";  // a file where a folder is wanted
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.args.at(1));
        const TProcessResult r = Check(c.args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.out, "") << "a console was checked";
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadText(dir / "run.json"), "{}");
}

// "-" is the standard output, a link keeps pointing where it did, and a report that
// cannot be written costs the other nothing.
TEST_F(WctCheckInputs, EachReportIsWrittenWhereItsPathPointsAndOnItsOwn) {
    fs::create_directories(dir / "reports");
    fs::create_symlink("reports/latest.xml", dir / "latest.xml");
    const TProcessResult out = Check({"--report", "-", "--junit", In("latest.xml")});
    EXPECT_EQ(out.exitCode, 0) << out.err;
    const size_t json = out.out.find("\n{");
    ASSERT_NE(json, std::string::npos) << out.out;
    const nlohmann::json report = nlohmann::json::parse(out.out.substr(json + 1));
    EXPECT_EQ(report["records"].size(), 1u);
    EXPECT_FALSE(fs::exists(dir / "-"));
    EXPECT_TRUE(fs::is_symlink(dir / "latest.xml"));
    EXPECT_NE(ReadText(dir / "reports" / "latest.xml").find("<testsuites"), std::string::npos);

    const TProcessResult full = Check({"--report", "/dev/full", "--junit", In("run.xml")});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_NE(full.err.find("report /dev/full: No space left on device"), std::string::npos)
        << full.err;
    EXPECT_NE(ReadText(dir / "run.xml").find("<testsuites"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A name with a line break, kept by a writer from before names were checked, stays on its
// record's line: it cannot forge a record of its own.
TEST_F(WctCheckInputs, HistoryTextKeepsEachRecordOnItsOwnLine) {
    {
        check::TCheckHistory history(In("old.sqlite"), check::TCheckHistory::TAccess::Write);
        check::TCheckRecord r;
        r.id = check::NewRecordId();
        r.runId = r.id;
        r.console = 1;
        r.station = "bench\t1";
        r.operatorName = "anna\n2026-12-08T10:00:00.000Z 99 1 PASS - bench anna";
        r.started = r.ended = "2026-12-08T09:00:00.000Z";
        r.outcome = check::TOutcome::Fail;
        history.Add(r);
    }
    const TProcessResult r = RunProcess(WCT_BINARY, {"history", "--db", In("old.sqlite")}, 20000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "started serial console outcome not_passed station operator\n"
              "2026-12-08T09:00:00.000Z - 1 FAIL - bench\\x091 "
              "anna\\x0A2026-12-08T10:00:00.000Z 99 1 PASS - bench anna\n");
}

}  // namespace
}  // namespace wct
