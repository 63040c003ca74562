// The terminal's conventions of wct and wct-sim: help and version, one-line usage
// errors, and ports that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <sstream>

#include "run_process.h"

namespace wct {
namespace {

using test::Lines;
using test::RunProcess;
using test::TProcessResult;

constexpr int kTimeoutMs = 20000;

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

TEST(WctConventions, AMissingPortIsNamedWithTheSystemsReasonAndExitsThree) {
    const TProcessResult r =
        RunProcess(WCT_BINARY, {"--port", "/dev/wct-no-such-port", "consoles"}, 60000);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("wct: cannot open /dev/wct-no-such-port: No such file or directory\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("answered on /dev/wct-no-such-port"), std::string::npos) << r.err;
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
