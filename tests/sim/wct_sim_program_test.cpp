#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;

constexpr int kReplyMs = 1000;

// wct-sim run with `args`, its standard output on a pipe and its standard error gone.
class TProgram {
public:
    explicit TProgram(const std::vector<std::string>& args) {
        std::string program = WCT_SIM_PROGRAM;
        std::vector<char*> argv = {program.data()};
        std::vector<std::string> copies = args;
        for (std::string& arg : copies) argv.push_back(arg.data());
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
    }
    ~TProgram() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        fclose(output_);
    }
    std::string Line() {
        char line[256] = "";
        if (!fgets(line, sizeof line, output_)) return "";
        std::string text = line;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int signal) { kill(pid_, signal); }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    FILE* output_ = nullptr;
};

TEST(WctSimProgram, PrintsTheDonglePortFirstAnswersThereAndEndsOnSigterm) {
    TProgram program({"dongle", "--consoles", "2", "--rate", "8"});
    const std::string path = program.Line();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    test::TSlavePort port(path);
    port.Write(Bytes({0x3E, 0x0A, 0x00, 0x00, 0x00, 0x21}));
    EXPECT_EQ(port.ReadFrames(1, kReplyMs).at(0),
              Bytes({0x3E, 0x0A, 0x00, 0x01, 0x78, 0x00, 0x21}));
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
}

TEST(WctSimProgram, RunsAWiredTrainerOfTheChosenGenerationUntilSigint) {
    TProgram program({"wired", "--generation", "4.5"});
    test::TSlavePort port(program.Line());
    port.Write(Bytes({0xF0, 0x08, 0x28, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(
        port.ReadUntil([](const std::string& d) { return d.size() >= 6; }, kReplyMs).substr(0, 6),
        Bytes({0xF0, 0x08, 0x55, 0x00, 0x00, 0xF7}));
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(), 0);
}

TEST(WctSimProgram, PrintsTheNewPortWhenTheDongleComesBack) {
    TProgram program({"dongle", "--vanish-after", "0.05", "--back-after", "0.05"});
    const std::string first = program.Line();
    const std::string second = program.Line();
    ASSERT_FALSE(second.empty());
    test::TSlavePort port(second);
    port.Write(Bytes({0x3E, 0x0A, 0x00, 0x00, 0x00, 0x21}));
    EXPECT_EQ(port.ReadFrames(1, kReplyMs).size(), 1u) << first << " then " << second;
}

TEST(WctSimProgram, ReplaysARecordingOnThePortItPrintsFirst) {
    char name[] = "/tmp/wct_sim_replay_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const std::string recording =
        "# wct wire recording 1\n100 -> 3E0A00000021\n5100 <- 3E0A0001780021\n";
    ASSERT_EQ(write(fd, recording.data(), recording.size()),
              static_cast<ssize_t>(recording.size()));
    close(fd);
    TProgram program({"replay", name, "--speed", "2", "--loop"});
    test::TSlavePort port(program.Line());
    port.Write(Bytes({0x3E, 0x0A, 0x00, 0x00, 0x00, 0x21}));
    EXPECT_EQ(port.ReadFrames(1, kReplyMs).at(0),
              Bytes({0x3E, 0x0A, 0x00, 0x01, 0x78, 0x00, 0x21}));
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    unlink(name);
}

TEST(WctSimProgram, RejectsWrongUsageWithExitCode2) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"modem"},
        {"dongle", "--bogus"},
        {"dongle", "--consoles"},
        {"dongle", "--rate", "fast"},
        {"dongle", "--drop", "1.5"},
        {"wired"},
        {"wired", "--generation", "3.5"},
        {"wired", "--generation", "5", "--consoles", "2"},
        {"replay"},
        {"replay", "/dev/null", "--speed", "0"},
        {"replay", "/dev/null", "--bogus"},
        {"replay", "/nonexistent.rec"},
        {"replay", "/dev/null"},  // empty: no recording
    };
    for (const auto& args : wrong) {
        TProgram program(args);
        EXPECT_EQ(program.Wait(), 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(program.Line(), "") << "no port is printed";
    }
}

}  // namespace
}  // namespace wct::sim
