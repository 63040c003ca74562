// `wct check` and `wct history` as separate processes against the dongle simulator: three
// registered consoles, the second refusing its keys test, the third losing its writes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

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
    }
    void TearDown() override { fs::remove_all(dir); }

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
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    const TProcessResult r = Wct({"check", "--console", "1", "--plan", In("plan.toml")});
    unsetenv("XDG_STATE_HOME");
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

TEST_F(WctCheckTest, CtrlCKeepsTheCurrentConsolesRecordAsInterrupted) {
    std::ofstream(dir / "long.toml") << "[[step]]\nkind = \"identity\"\n[[step]]\nkind = "
                                        "\"radio\"\nseconds = 600\n";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::vector<std::string> args =
        Args({"check", "--console", "1", "--plan", In("long.toml"), "--db", In("h.sqlite")});
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
        close(out[0]);
        std::vector<char*> argv{const_cast<char*>(WCT_BINARY)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(WCT_BINARY, argv.data());
        _exit(127);
    }
    close(out[1]);
    // The identity line says the check is under way.
    std::string text;
    pollfd p{out[0], POLLIN, 0};
    char buffer[512];
    while (text.find('\n') == std::string::npos && poll(&p, 1, 30000) > 0) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    kill(pid, SIGINT);
    while (poll(&p, 1, 30000) > 0 && read(out[0], buffer, sizeof buffer) > 0) {
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);

    const TProcessResult history = Wct({"history", "--db", In("h.sqlite"), "--json"});
    const nlohmann::json records = nlohmann::json::parse(history.out);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"], "ERROR");
    EXPECT_EQ(records[0]["message"], "interrupted");
    EXPECT_EQ(records[0]["steps"][0]["outcome"], "PASS");
    EXPECT_EQ(records[0]["steps"][1]["message"], "interrupted");
}

}  // namespace
}  // namespace wct
