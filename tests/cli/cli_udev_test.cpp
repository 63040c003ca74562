// SPDX-License-Identifier: Apache-2.0
// wct udev-rule: the rule made from the USB identity of the port the dongle answered on,
// printed, or written whole. The dongle is the simulator on a pseudo-terminal; its USB
// identity and the rules folder are temporary trees laid out as sysfs and udev's are.
#include "cli/cli_udev.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "run_process.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"

namespace wct::cli {
namespace {

namespace fs = std::filesystem;
using test::Lines;

std::string Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The rules, each a comment or the one rule line.
std::vector<std::string> RuleLines(const std::string& text) {
    std::vector<std::string> rules;
    for (const std::string& line : Lines(text))
        if (line.empty() || line[0] != '#') rules.push_back(line);
    return rules;
}

struct TRuleCase {
    const char* what;
    std::string port;
    TUsbIdentity usb;
    std::string rule;
    std::string comment;  // found in the comments
};

TEST(UdevRuleText, OneRuleNamesTheDongleByItsIdentityAndGivesItToDialout) {
    const std::string rest =
        "GROUP=\"dialout\", MODE=\"0660\", SYMLINK+=\"wct-dongle\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
    const TRuleCase cases[] = {
        {"with a serial number", "/dev/ttyUSB0", {"10c4", "ea60", "0001"},
         "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", "
         "ATTRS{serial}==\"0001\", " + rest,
         "found on /dev/ttyUSB0: USB vendor 10c4, product ea60, serial 0001."},
        {"without one", "/dev/ttyACM0", {"2341", "0043", ""},
         "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", " + rest,
         "product 0043, no serial number."},
        {"quotes and patterns stand for themselves", "/dev/ttyUSB1", {"10c4", "ea60", "A\"B*C|[x]"},
         "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", "
         "ATTRS{serial}==\"A?B?C??x?\", " + rest,
         "serial A?B?C??x?."},
        {"a line end in the port stays in its comment", "/tmp/d\nRUN+=\"/bin/sh\"",
         {"10c4", "ea60", "7"},
         "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", "
         "ATTRS{serial}==\"7\", " + rest,
         "found on /tmp/d?RUN+=?/bin/sh?: USB"},
    };
    for (const TRuleCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = UdevRule(c.port, c.usb);
        EXPECT_EQ(RuleLines(text), std::vector<std::string>{c.rule}) << text;
        EXPECT_NE(text.find(c.comment), std::string::npos) << text;
        EXPECT_EQ(text.back(), '\n');
    }
}

class UdevRuleCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simulator = new sim::TDongleSimulator(sim::TDongleOptions{});
        simulator->Start();
    }
    static void TearDownTestSuite() {
        delete simulator;
        simulator = nullptr;
    }
    void SetUp() override {
        char pattern[] = "/tmp/wct-udev-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        paths.ttyClass = dir / "class-tty";
        paths.rulesDir = dir / "rules.d";
        fs::create_directories(paths.ttyClass);
        fs::create_directories(paths.rulesDir);
        options.port = simulator->PortPath();
        options.replyTimeout = 1500;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Puts the dongle's pseudo-terminal under a USB device with this identity, as a USB
    // serial converter's tty sits under its interface.
    void GiveTheDongleAUsbIdentity(const std::string& vendor, const std::string& product,
                                   const std::string& serial) {
        const fs::path device = dir / "devices/usb1/1-2";
        fs::create_directories(device / "1-2:1.0");
        std::ofstream(device / "idVendor") << vendor << '\n';
        std::ofstream(device / "idProduct") << product << '\n';
        std::ofstream(device / "serial") << serial << '\n';
        const fs::path tty = paths.ttyClass / fs::canonical(simulator->PortPath()).filename();
        fs::create_directories(tty);
        fs::create_directory_symlink(device / "1-2:1.0", tty / "device");
    }

    int Run() {
        out.str("");
        err.str("");
        return RunUdevRule(options, udev, out, err, paths);
    }

    static inline sim::TDongleSimulator* simulator = nullptr;
    fs::path dir;
    TUdevPaths paths;
    TCliOptions options;
    TUdevRuleOptions udev;
    std::ostringstream out, err;
};

const char* const kRule =
    "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", "
    "ATTRS{serial}==\"0001\", GROUP=\"dialout\", MODE=\"0660\", SYMLINK+=\"wct-dongle\", "
    "ENV{ID_MM_DEVICE_IGNORE}=\"1\"";

TEST_F(UdevRuleCommand, PrintsTheRuleForTheUsbDeviceTheDongleAnsweredOn) {
    GiveTheDongleAUsbIdentity("10c4", "ea60", "0001");
    ASSERT_EQ(Run(), 0) << err.str();
    EXPECT_EQ(RuleLines(out.str()), std::vector<std::string>{kRule}) << out.str();
    EXPECT_NE(out.str().find("found on " + simulator->PortPath()), std::string::npos);
    EXPECT_TRUE(fs::is_empty(paths.rulesDir));
}

TEST_F(UdevRuleCommand, InstallWritesTheRuleWholeForEveryoneToRead) {
    GiveTheDongleAUsbIdentity("10c4", "ea60", "0001");
    std::ofstream(paths.rulesDir / kUdevRuleFile) << "# an earlier dongle's rule\n";
    udev.install = true;
    ASSERT_EQ(Run(), 0) << err.str();
    EXPECT_EQ(out.str(), "");
    const fs::path file = paths.rulesDir / kUdevRuleFile;
    EXPECT_EQ(RuleLines(Read(file)), std::vector<std::string>{kRule});
    struct stat written {};
    ASSERT_EQ(stat(file.c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 07777, 0644u);
    // Nothing but the rule is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(paths.rulesDir), fs::directory_iterator()), 1);
    EXPECT_NE(err.str().find("wrote " + file.string()), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("udevadm control --reload"), std::string::npos);
}

TEST_F(UdevRuleCommand, AFolderThatCannotBeWrittenExitsOneNamingTheFileAndTheReason) {
    GiveTheDongleAUsbIdentity("10c4", "ea60", "0001");
    udev.install = true;
    paths.rulesDir = dir / "absent";
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(err.str(), "wct: cannot write " + (paths.rulesDir / kUdevRuleFile).string() +
                             ": No such file or directory\n");
    EXPECT_FALSE(fs::exists(paths.rulesDir));
}

TEST_F(UdevRuleCommand, ADonglePortWithoutAUsbIdentityGetsNoRule) {
    udev.install = true;
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(err.str(), "wct: the dongle answered on " + simulator->PortPath() +
                             ", which is no USB device: a udev rule cannot tell it by its USB "
                             "identity\n");
    EXPECT_TRUE(fs::is_empty(paths.rulesDir));
}

TEST_F(UdevRuleCommand, WithoutADongleItSaysWhyAsFindDoesAndExitsThree) {
    SetPortSource([] { return std::vector<std::string>{}; });
    options.port = (dir / "unplugged").string();
    udev.install = true;
    const int code = Run();
    SetPortSource(nullptr);
    EXPECT_EQ(code, 3);
    EXPECT_EQ(err.str(), "wct: cannot open " + options.port + ": No such file or directory\n");
    EXPECT_TRUE(fs::is_empty(paths.rulesDir));
}

TEST_F(UdevRuleCommand, TheProgramTakesTheCommandAndReadsTheSystemsSysfs) {
    const test::TProcessResult help = test::RunProcess(WCT_BINARY, {"udev-rule", "--help"}, 30000);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--install"), std::string::npos) << help.out;
    // A pseudo-terminal is no USB device in the real sysfs either.
    const test::TProcessResult r = test::RunProcess(
        WCT_BINARY, {"--port", simulator->PortPath(), "--reply-timeout", "1500", "udev-rule"},
        60000);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("which is no USB device"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace wct::cli
