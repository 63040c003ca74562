// SPDX-License-Identifier: Apache-2.0
// The terminal's conventions of wct and wct-sim: help and version, one-line usage
// errors, global options on either side of the command, output that cannot be written,
// and ports that cannot be opened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>

#include "check/check_history.h"
#include "run_process.h"
#include "sim/dongle_simulator.h"
#include "sim/wired_trainer_simulator.h"

namespace wct {
namespace {

using test::Lines;
using test::RunProcess;
using test::TProcessResult;
using test::TProcessSetup;

constexpr int kTimeoutMs = 20000;

std::string LastLine(const std::string& text) {
    const std::vector<std::string> lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
}

// A folder of the test's own, gone with it.
class TTestFolder {
public:
    TTestFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("wct-conventions-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TTestFolder() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The commands a help text lists.
std::vector<std::string> Commands(const std::string& help) {
    std::vector<std::string> commands;
    bool listing = false;
    for (const std::string& line : Lines(help)) {
        if (line == "commands:")
            listing = true;
        else if (line.empty())
            listing = false;
        else if (listing)
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return commands;
}

TEST(WctConventions, HelpOfEachProgramAndEveryCommandExitsZero) {
    for (const std::string program : {WCT_BINARY, WCT_SIM_PROGRAM}) {
        const TProcessResult top = RunProcess(program, {"--help"}, kTimeoutMs);
        ASSERT_EQ(top.exitCode, 0) << program << top.err;
        std::vector<std::vector<std::string>> paths;
        for (const std::string& command : Commands(top.out)) paths.push_back({command});
        EXPECT_GE(paths.size(), 3u) << top.out;
        for (size_t i = 0; i < paths.size(); ++i) {
            std::vector<std::string> args = paths[i];
            args.push_back("--help");
            const TProcessResult r = RunProcess(program, args, kTimeoutMs);
            EXPECT_EQ(r.exitCode, 0) << args[0] << r.err;
            EXPECT_TRUE(r.err.empty()) << r.err;
            // Commands under commands (trainer identify, trainer ride).
            for (const std::string& sub : Commands(r.out)) {
                paths.push_back(paths[i]);
                paths.back().push_back(sub);
            }
        }
        if (program == WCT_BINARY) {
            EXPECT_GT(paths.size(), 18u);
        }
    }
}

TEST(WctConventions, VersionNamesTheProgramAndItsVersion) {
    for (const std::string program : {"wct", "wct-sim"}) {
        const TProcessResult r =
            RunProcess(program == "wct" ? WCT_BINARY : WCT_SIM_PROGRAM, {"--version"}, kTimeoutMs);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(std::regex_match(r.out, std::regex(program + " [0-9]+\\.[0-9]+\n"))) << r.out;
    }
}

TEST(WctConventions, AUsageErrorIsOneLineThatPointsToTheHelp) {
    struct Case {
        std::string program;
        std::vector<std::string> args;
        std::string start;
    };
    const std::vector<Case> cases = {
        {WCT_BINARY, {"fly"}, "wct: unknown command 'fly'"},
        {WCT_BINARY, {"--bogus", "find"}, "wct: unknown option --bogus"},
        {WCT_BINARY, {"measure", "--seconds", "1", "x"}, "wct: measure: unexpected argument 'x'"},
        {WCT_BINARY, {"trainer", "ride"}, "wct: ride needs --seconds"},
        // Global options after the command leave the command's own refusals as they were.
        {WCT_BINARY,
         {"measure", "--port", "/dev/x", "--bogus"},
         "wct: measure takes no option --bogus"},
        {WCT_BINARY, {"trainer", "identify", "--bogus"}, "wct: identify takes no option --bogus"},
        {WCT_BINARY,
         {"trainer", "--wait", "5", "identify"},
         "wct: trainer takes --port, --simulate and --pcap only"},
        {WCT_BINARY, {"find", "--port"}, "wct: --port needs a value"},
        {WCT_SIM_PROGRAM, {"dongle", "--bogus"}, "wct-sim: dongle takes no option --bogus"},
        {WCT_SIM_PROGRAM, {}, "wct-sim: which simulator"},
    };
    for (const Case& c : cases) {
        const TProcessResult r = RunProcess(c.program, c.args, kTimeoutMs);
        EXPECT_EQ(r.exitCode, 2) << c.start;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err.rfind(c.start, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        const std::string name = c.program == WCT_BINARY ? "wct" : "wct-sim";
        EXPECT_NE(r.err.find("see '" + name + " --help')\n"), std::string::npos) << r.err;
    }
}

TEST(WctConventions, GlobalOptionsMayFollowTheCommandAndMeanTheSame) {
    sim::TDongleOptions options;
    options.consoles.push_back(sim::DefaultConsole(1));
    options.consoles[0].joinedAtStart = true;
    sim::TDongleSimulator dongle(options);
    dongle.Start();
    sim::TWiredTrainerSimulator trainer(sim::TWiredOptions{});
    trainer.Start();
    const std::string d = dongle.PortPath();
    const std::string t = trainer.PortPath();
    struct Case {
        std::vector<std::vector<std::string>> lines;  // the same command, in every order
        std::string out;                              // what each prints first
    };
    const std::vector<Case> cases = {
        {{{"--port", d, "--reply-timeout", "1500", "find"},
          {"find", "--port", d, "--reply-timeout", "1500"},
          {"--reply-timeout", "1500", "find", "--port", d}},
         d},
        {{{"--port", d, "--reply-timeout", "1500", "measure", "--seconds", "1", "--csv"},
          {"measure", "--port", d, "--seconds", "1", "--csv", "--reply-timeout", "1500"}},
         "time_ms,console,rpm,kmh,heart_rate,cadence,keys"},
        {{{"--port", t, "trainer", "identify"},
          {"trainer", "--port", t, "identify"},
          {"trainer", "identify", "--port", t}},
         "5 74565 18"},
        {{{"--simulate", "trainer", "--generation", "4", "identify"},
          {"trainer", "--simulate", "--generation", "4", "identify"},
          {"trainer", "--generation", "4", "identify", "--simulate"}},
         "4 74565 18"},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& args : c.lines) {
            const TProcessResult r = RunProcess(WCT_BINARY, args, 60000);
            const std::string line = ::testing::PrintToString(args);
            EXPECT_EQ(r.exitCode, 0) << line << r.err;
            const std::vector<std::string> lines = Lines(r.out);
            ASSERT_FALSE(lines.empty()) << line << r.err;
            EXPECT_EQ(lines[0], c.out) << line;
        }
    }
}

// Results that cannot be written are a failure, told as GNU programs tell it.
TEST(WctConventions, OutputThatCannotBeWrittenExitsOneWithTheReason) {
    const TTestFolder folder;
    check::TCheckHistory(folder / "h.sqlite", check::TCheckHistory::TAccess::Write);
    const std::string link = folder / "sim-port";
    struct Case {
        std::string program;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {WCT_BINARY, {"--simulate", "measure", "--seconds", "1"}},
        {WCT_BINARY, {"history", "--csv", "--db", folder / "h.sqlite"}},
        {WCT_BINARY, {"map", "--speed", "20", "--power", "150"}},
        {WCT_BINARY, {"--simulate", "trainer", "identify"}},
        {WCT_BINARY, {"--simulate", "--trace", "-", "find"}},
        {WCT_BINARY, {"measure", "--help"}},
        {WCT_SIM_PROGRAM, {"dongle", "--link", link}},
    };
    for (const Case& c : cases) {
        TProcessSetup setup;
        setup.outputFile = "/dev/full";
        // The simulator runs until stopped: stopped once it serves its port.
        bool stopped = false;
        setup.running = [&](int pid) {
            struct stat info {};
            if (!stopped && lstat(link.c_str(), &info) == 0) stopped = kill(pid, SIGTERM) == 0;
        };
        const TProcessResult r = RunProcess(c.program, c.args, 60000, {}, setup);
        const std::string name = c.program == WCT_BINARY ? "wct" : "wct-sim";
        const std::string line = name + " " + ::testing::PrintToString(c.args);
        EXPECT_EQ(r.exitCode, 1) << line << r.err;
        EXPECT_EQ(LastLine(r.err), name + ": write error: No space left on device")
            << line << r.err;
    }
}

// A closed pipe ends wct as SIGPIPE ends any program, though wct ignores SIGPIPE for its
// devices; under a parent that has SIGPIPE ignored it is a write error.
TEST(WctConventions, AClosedPipeEndsWctAsSigpipeDoesUnlessTheParentIgnoresIt) {
    const std::vector<std::string> map = {"map", "--speed", "20", "--power", "150"};
    struct Case {
        std::vector<std::string> args;
        bool sigpipeIgnored;
    };
    const std::vector<Case> cases = {
        {map, false},
        // Would print for a minute: its first write ends it.
        {{"--simulate", "measure", "--seconds", "60"}, false},
        {map, true},
        {{"--simulate", "measure", "--seconds", "1"}, true},
    };
    for (const Case& c : cases) {
        TProcessSetup setup;
        setup.closedPipe = true;
        setup.sigpipeIgnored = c.sigpipeIgnored;
        const TProcessResult r = RunProcess(WCT_BINARY, c.args, 30000, {}, setup);
        const std::string line = ::testing::PrintToString(c.args);
        if (c.sigpipeIgnored) {
            EXPECT_EQ(r.exitCode, 1) << line << r.err;
            EXPECT_EQ(LastLine(r.err), "wct: write error: Broken pipe") << line << r.err;
        } else {
            EXPECT_EQ(r.signal, SIGPIPE) << line << r.exitCode << r.err;
            EXPECT_EQ(r.err.find("write error"), std::string::npos) << line << r.err;
        }
    }
}

// A port that cannot be opened is named by the path tried, with the system's reason;
// what is no terminal is "not a serial port".
TEST(WctConventions, APortThatCannotBeOpenedIsNamedByItsPathWithTheReasonAndExitsThree) {
    const TTestFolder folder;
    const std::string file = folder / "file";
    const std::string fifo = folder / "fifo";
    std::FILE* created = std::fopen(file.c_str(), "w");
    ASSERT_NE(created, nullptr);
    std::fclose(created);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string port;
        std::string path;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"/dev/wct-no-such-port", "/dev/wct-no-such-port", "No such file or directory"},
        {"wct-no-such-port", "/dev/wct-no-such-port", "No such file or directory"},
        {"null", "/dev/null", "not a serial port"},
        {file, file, "not a serial port"},
        {fifo, fifo, "not a serial port"},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"consoles"}, {"trainer", "identify"}}) {
            std::vector<std::string> args = {"--port", c.port};
            args.insert(args.end(), command.begin(), command.end());
            const TProcessResult r = RunProcess(WCT_BINARY, args, 60000);
            const std::string line = ::testing::PrintToString(args);
            EXPECT_EQ(r.exitCode, 3) << line;
            EXPECT_NE(r.err.find("wct: cannot open " + c.path + ": " + c.reason + "\n"),
                      std::string::npos)
                << line << r.err;
            EXPECT_EQ(r.err.find("answered on " + c.path), std::string::npos) << line << r.err;
        }
    }
}

TEST(WctConventions, APortThatMayNotBeOpenedSaysToJoinTheDialoutGroup) {
    char path[] = "/tmp/wct-forbidden-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    chmod(path, 0);
    // Root may open anything: the port is tried by an ordinary user.
    std::string program = WCT_BINARY;
    std::vector<std::string> args = {"--port", path, "find"};
    if (geteuid() == 0) {
        args.insert(args.begin(), {"-u", "nobody", "--", program});
        program = "/usr/sbin/runuser";
    }
    const TProcessResult r = RunProcess(program, args, 60000);
    std::remove(path);
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find(std::string("cannot open ") + path +
                         ": Permission denied: join the dialout group\n"),
              std::string::npos)
        << r.err;
}

TEST(WctConventions, PortsWithUsbGiveFourFieldsPerPort) {
    const TProcessResult r = RunProcess(WCT_BINARY, {"ports", "--usb"}, kTimeoutMs);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "port vendor product serial");
    for (size_t i = 1; i < lines.size(); ++i) {
        std::istringstream fields(lines[i]);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        EXPECT_EQ(words.size(), 4u) << lines[i];
    }
}

}  // namespace
}  // namespace wct
