// SPDX-License-Identifier: Apache-2.0
// `wct trainer` run as a separate process against `wct-sim wired`, also a process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "run_process.h"

namespace wct {
namespace {

using test::Lines;
using test::RunProcess;
using test::TProcessResult;

constexpr int kTimeoutMs = 30000;

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    return fields;
}

// wct-sim with `args`, running until the object goes; Port() is what it printed first.
class TTrainerProcess {
public:
    explicit TTrainerProcess(std::vector<std::string> args) {
        args.insert(args.begin(), {WCT_SIM_PROGRAM, "wired"});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = fdopen(out[0], "r");
        char line[256] = "";
        if (fgets(line, sizeof line, output_)) port_ = line;
        if (!port_.empty() && port_.back() == '\n') port_.pop_back();
    }
    ~TTrainerProcess() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        fclose(output_);
    }
    const std::string& Port() const { return port_; }

private:
    pid_t pid_ = -1;
    FILE* output_ = nullptr;
    std::string port_;
};

TProcessResult Wct(std::vector<std::string> args) {
    return RunProcess(WCT_BINARY, args, kTimeoutMs);
}

TEST(WctTrainer, IdentifiesTrainersOfGenerations2To7) {
    const std::pair<const char*, const char*> cases[] = {
        {"2", "2 0 0"}, {"4", "4 658188 33"}, {"5", "5 658188 33"}, {"7", "7 658188 33"}};
    for (const auto& [generation, expected] : cases) {
        TTrainerProcess trainer(
            {"--generation", generation, "--serial", "0x0A0B0C", "--product-version", "33"});
        std::vector<std::string> args = {"--port", trainer.Port(), "trainer"};
        if (std::string(generation) == "2") args.insert(args.end(), {"--generation", "2"});
        args.push_back("identify");
        const TProcessResult result = Wct(args);
        EXPECT_EQ(result.exitCode, 0) << generation << ": " << result.err;
        EXPECT_EQ(result.out, std::string(expected) + "\n");
    }
}

TEST(WctTrainer, ExitsWith1OnAWrongAnswerAnd3WhenNothingAnswers) {
    {
        TTrainerProcess trainer({"--generation", "6", "--answer", "wrong"});
        const TProcessResult result = Wct({"--port", trainer.Port(), "trainer", "identify"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("wrong identification answer"), std::string::npos);
    }
    {
        TTrainerProcess trainer({"--generation", "6", "--answer", "none"});
        const TProcessResult result = Wct({"--port", trainer.Port(), "trainer", "identify"});
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_NE(result.err.find("no trainer answered"), std::string::npos);
    }
    const TProcessResult missing = Wct({"--port", "/dev/wct-no-such-port", "trainer", "identify"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("cannot open /dev/wct-no-such-port"), std::string::npos);
}

TEST(WctTrainer, RefusesWrongUsageWithExitCode2) {
    const std::vector<std::vector<std::string>> wrong = {
        {"trainer"},
        {"trainer", "ride"},
        {"trainer", "ride", "--seconds", "0"},
        {"trainer", "ride", "--seconds", "1", "--load", "10", "--slope", "2"},
        {"trainer", "ride", "--seconds", "1", "--load", "300"},
        {"trainer", "--generation", "5", "identify"},
        {"trainer", "--simulate", "--generation", "3.5", "identify"},
        {"trainer", "identify", "--csv"},
    };
    for (const auto& args : wrong) {
        const TProcessResult result = Wct(args);
        EXPECT_EQ(result.exitCode, 2) << args.back();
        EXPECT_TRUE(result.out.empty());
    }
}

TEST(WctTrainer, RidesAGeneration5TrainerThatRolledBeforeFromZeroOneLinePerStep) {
    TTrainerProcess trainer(
        {"--generation", "5", "--rider", "speed=30,hr=120,cad=90", "--roll-total", "100000"});
    const TProcessResult result = Wct({"--port", trainer.Port(), "trainer", "ride", "--seconds",
                                       "4", "--load", "40", "--interval", "500", "--csv"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 9u) << result.out;
    EXPECT_EQ(lines[0], "time_ms,kmh,km,cadence,heart_rate,watts,kcal,load,elevation,status");
    // From zero: a few metres by the first step (more when the PC is late), never the
    // roll total the trainer counted since power-on.
    EXPECT_LT(std::stod(Fields(lines[1]).at(2)), 0.05) << lines[1];
    const std::vector<std::string> last = Fields(lines.back());
    ASSERT_EQ(last.size(), 10u);
    EXPECT_NEAR(std::stod(last[1]), 30, 0.5) << lines.back();
    EXPECT_NEAR(std::stod(last[2]), 30.0 * 4 / 3600, 0.004) << lines.back();
    EXPECT_EQ(last[3], "90");
    EXPECT_EQ(last[7], "40") << "the load sent";
    EXPECT_EQ(last[8], "0");
    EXPECT_EQ(last[9], "running");
}

// The heart window fills with 25 beats before the first rate: about 8 s at 200 bpm.
TEST(WctTrainer, AboveMaxHrEveryLoadIsZeroAndTheRiderIsTold) {
    TTrainerProcess trainer({"--generation", "5", "--rider", "speed=25,hr=200,cad=80", "--hrv", "20"});
    const TProcessResult result =
        Wct({"--port", trainer.Port(), "trainer", "ride", "--seconds", "12", "--load", "120",
             "--max-hr", "180", "--csv"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 13u) << result.out;
    int cut = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> f = Fields(lines[i]);
        ASSERT_EQ(f.size(), 10u) << lines[i];
        if (std::stoi(f[4]) <= 180) continue;
        ++cut;
        EXPECT_EQ(f[7], "0") << lines[i];
        EXPECT_EQ(f[8], "0") << lines[i];
    }
    EXPECT_GE(cut, 2) << result.out;
    EXPECT_EQ(Fields(lines[3])[7], "120") << "loaded before the heart was known";
    EXPECT_NE(result.err.find("above 180: brake held at 0"), std::string::npos) << result.err;
}

TEST(WctTrainer, RidesByteProtocolAndShortFrameTrainers) {
    for (const char* generation : {"2", "4", "7"}) {
        TTrainerProcess trainer(
            {"--generation", generation, "--rider", "speed=20", "--roll-total", "0xFFFFF0"});
        std::vector<std::string> args = {"--port", trainer.Port(), "trainer"};
        if (std::string(generation) == "2") args.insert(args.end(), {"--generation", "2"});
        args.insert(args.end(), {"ride", "--seconds", "1", "--slope", "2", "--interval", "250"});
        const TProcessResult result = Wct(args);
        ASSERT_EQ(result.exitCode, 0) << generation << ": " << result.err;
        const std::vector<std::string> lines = Lines(result.out);
        ASSERT_EQ(lines.size(), 4u) << generation;
        double ms = 0, kmh = 0, km = 0;
        std::istringstream(lines.back()) >> ms >> kmh >> km;
        EXPECT_LT(km, 20.0 / 3600 + 0.001) << "a total that wraps is no jump: " << lines.back();
        EXPECT_NE(lines.back().find(" running"), std::string::npos) << lines.back();
        if (std::string(generation) != "2") {
            EXPECT_NE(lines.back().find(" 136 running"), std::string::npos)
                << "2 % as the elevation byte: " << lines.back();
        }
    }
}

TEST(WctTrainer, EndsARideWith1WhenTheTrainerIsGoneForGood) {
    // Through a link that goes with the trainer: a test running beside this one may be
    // given the vanished pseudo-terminal's number, and must not be taken for it.
    const std::string link = "/tmp/wct-trainer-gone-" + std::to_string(getpid());
    TTrainerProcess trainer({"--generation", "4", "--link", link, "--vanish-after", "0.5"});
    const TProcessResult result = Wct({"--port", link, "trainer", "ride", "--seconds", "20"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("repairing process aborted"), std::string::npos) << result.err;
    EXPECT_LT(result.elapsedMs, 10000);
}

TEST(WctTrainer, GivesUpASilentShortFrameTrainerAfterItsTriesShowingSpeed0Meanwhile) {
    TTrainerProcess trainer({"--generation", "4", "--rider", "speed=30", "--silent-after", "1"});
    const TProcessResult result = Wct({"--port", trainer.Port(), "trainer", "ride", "--seconds",
                                       "20", "--tries", "3", "--interval", "500"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("repairing process aborted (3)"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("restablished"), std::string::npos) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_GE(lines.size(), 4u) << result.out;
    EXPECT_NE(lines.back().find(" 0.00 "), std::string::npos) << lines.back();
    EXPECT_LT(result.elapsedMs, 10000);
}

TEST(WctTrainer, RidesOnWhenTheTrainerComesBackUnderItsLink) {
    const std::string link = "/tmp/wct-trainer-link-" + std::to_string(getpid());
    TTrainerProcess trainer(
        {"--generation", "4", "--link", link, "--vanish-after", "0.5", "--back-after", "0.05"});
    const TProcessResult result =
        Wct({"--port", link, "trainer", "ride", "--seconds", "3", "--interval", "500"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("connection lost, trying to reconnect"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("connection restablished"), std::string::npos) << result.err;
    EXPECT_NE(Lines(result.out).back().find(" running"), std::string::npos);
}

}  // namespace
}  // namespace wct
