// SPDX-License-Identifier: Apache-2.0
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
        int in[2];
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(in), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(in[0]);
        input_ = in[1];
        output_ = fdopen(out[0], "r");
    }
    ~TProgram() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        fclose(output_);
        close(input_);
    }
    // One line on the program's standard input.
    void Send(const std::string& line) {
        const std::string text = line + "\n";
        EXPECT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
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
    int input_ = -1;
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

TEST(WctSimProgram, RefusesSilencesAndForgetsWhatTheCheckFaultsName) {
    TProgram program({"dongle", "--consoles", "2", "--registered", "2", "--nack", "0x18",
                      "--silent-tests", "0x17", "--lost-writes", "2"});
    test::TSlavePort port(program.Line());
    port.Write(Bytes({0x3E, 0x18, 0x01, 0x00, 0x00, 0x21}));
    EXPECT_EQ(port.ReadFrames(1, kReplyMs).at(0),
              Bytes({0x3E, 0xFE, 0x01, 0x01, 0x18, 0x00, 0x21}));
    // The signals test goes unanswered: the write's ACK is the next frame back.
    port.Write(Bytes({0x3E, 0x17, 0x01, 0x00, 0x00, 0x21}));
    port.Write(Bytes({0x3E, 0x0E, 0x02, 0x04, 0x00, 0x10, 0x01, 0xAA, 0x00, 0x21}));
    EXPECT_EQ(port.ReadFrames(1, kReplyMs).at(0),
              Bytes({0x3E, 0xFF, 0x02, 0x01, 0x0E, 0x00, 0x21}));
    port.Write(Bytes({0x3E, 0x0F, 0x02, 0x03, 0x00, 0x10, 0x01, 0x00, 0x21}));
    EXPECT_EQ(port.ReadFrames(1, kReplyMs).at(0),
              Bytes({0x3E, 0x0F, 0x02, 0x02, 0x01, 0x00, 0x00, 0x21}));
}

TEST(WctSimProgram, RunsAWiredTrainerOfTheChosenGenerationUntilSigint) {
    TProgram program({"wired", "--generation", "4.5"});
    test::TSlavePort port(program.Line());
    port.Write(Bytes({0xF0, 0x08, 0x28, 0x00, 0x00, 0xF7}));
    // Among the measures it streams from power-on.
    const std::string answer = Bytes({0xF0, 0x08, 0x55, 0x00, 0x00, 0xF7});
    EXPECT_NE(
        port.ReadUntil([&](const std::string& d) { return d.find(answer) != d.npos; }, kReplyMs)
            .find(answer),
        std::string::npos);
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

TEST(WctSimProgram, ScriptedRidersReportTheirFiguresAndKeysComeFromStandardInput) {
    TProgram program({"dongle", "--consoles", "2", "--registered", "2", "--rate", "20", "--rider",
                      "1:rpm=1000,hr=120,cad=85", "--rider", "2:cad=60"});
    test::TSlavePort port(program.Line());
    port.Write(Bytes({0x3E, 0x13, 0x00, 0x01, 0x01, 0x00, 0x21}));
    const auto frames = port.ReadFrames(2, kReplyMs);
    ASSERT_EQ(frames.size(), 2u);
    for (const std::string& frame : frames) {
        if (frame[2] == 1)
            EXPECT_EQ(frame, Bytes({0x3E, 0x01, 0x01, 0x05, 0x03, 0xE8, 120, 85, 0, 0x00, 0x21}));
        else
            EXPECT_EQ(frame, Bytes({0x3E, 0x01, 0x02, 0x05, 0, 0, 0, 60, 0, 0x00, 0x21}));
    }
    program.Send("keys 1 5");
    program.Send("keys 9 1");  // reported on standard error, the run goes on
    bool pressed = false;
    for (int i = 0; i < 40 && !pressed; ++i) {
        for (const std::string& frame : port.ReadFrames(1, kReplyMs))
            pressed = frame[2] == 1 && frame[8] == 5;
    }
    EXPECT_TRUE(pressed);
    program.Send("leave 2");
    EXPECT_TRUE(
        !port.ReadUntil(
                 [](const std::string& d) {
                     return d.find(Bytes({0x3E, 0x06, 0x00, 0x01, 0x02})) != std::string::npos;
                 },
                 kReplyMs)
             .empty());
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
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
        {"dongle", "--rider", "1:rpm=70000"},
        {"dongle", "--rider", "2:rpm=100"},  // one console only
        {"dongle", "--rider"},
        {"wired", "--generation", "5", "--rider", "1:rpm=1"},
        {"wired", "--generation", "5", "--rider", "speed=fast"},
        {"wired", "--generation", "5", "--rider", "power=200"},
        {"wired", "--generation", "5", "--answer", "maybe"},
        {"wired", "--generation", "5", "--roll-total", "0x1000000"},
        {"wired", "--generation", "5", "--hrv", "-3"},
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

TEST(WctSimProgram, PlaysTheRiderGivenOnTheCommandLine) {
    TProgram program({"wired", "--generation", "4", "--rider", "speed=0,hr=120,cad=0,keys=15"});
    test::TSlavePort port(program.Line());
    // The first frame, and any that followed it while the test was busy.
    const std::string frame =
        port.ReadUntil([](const std::string& d) { return d.size() >= 6; }, kReplyMs);
    ASSERT_GE(frame.size(), 6u);
    EXPECT_EQ(test::Hex(frame.substr(0, 2)), "F0 01");
    EXPECT_EQ(frame[2] & 0x0F, 0x0F) << "all four keys held";
    EXPECT_EQ(frame[3], 0) << "the roll stands";
}

TEST(WctSimProgram, ChangesTheWiredRiderFromStandardInputAndAnswersHelp) {
    TProgram program({"wired", "--generation", "4", "--rider", "speed=0"});
    test::TSlavePort port(program.Line());
    program.Send("rider speed=0,keys=15");
    const std::string frames = port.ReadUntil(
        [](const std::string& d) { return d.size() >= 6 && (d[d.size() - 4] & 0x0F) == 0x0F; },
        kReplyMs);
    EXPECT_EQ(frames[frames.size() - 4] & 0x0F, 0x0F) << test::Hex(frames);
    TProgram help({"wired", "--help"});
    std::string text;
    for (int i = 0; i < 80; ++i) text += help.Line() + "\n";  // "" once it has ended
    EXPECT_NE(text.find("--roll-total N"), std::string::npos) << text;
    EXPECT_NE(text.find("rider speed=KMH,hr=BPM,cad=RPM[,keys=BITS] | silent | speak"),
              std::string::npos)
        << text;
    EXPECT_EQ(help.Wait(), 0);
}

TEST(WctSimProgram, KeepsTheLinkNamedOnTheCommandLineUntilItEnds) {
    const std::string link = "/tmp/wct-sim-link-" + std::to_string(getpid());
    TProgram program({"dongle", "--link", link});
    const std::string path = program.Line();
    char target[256] = "";
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), path);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_LT(readlink(link.c_str(), target, sizeof target - 1), 0) << "the link goes with it";
}

}  // namespace
}  // namespace wct::sim
