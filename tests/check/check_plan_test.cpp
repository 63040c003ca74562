// SPDX-License-Identifier: Apache-2.0
// Check plans: the built-in one, and plan files with their errors.
#include "check/check_plan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace wct::check {
namespace {

TEST(CheckPlanTest, TheBuiltInPlanRunsEveryStepInOrder) {
    const TCheckPlan plan = DefaultPlan();
    std::vector<std::string> names;
    for (const TPlanStep& s : plan.steps) names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"identity", "keys", "cardio", "signals", "clock",
                                               "memory", "total_rolls", "radio"}));
    EXPECT_EQ(plan.steps[1].command, 0x18);
}

TEST(CheckPlanTest, AFileGivesItsOwnStepsAndLimits) {
    const TCheckPlan plan = ParsePlan(R"(
name = "line 2"
reply_timeout_ms = 1200
[[step]]
kind = "memory"
address = 0x1F0
pattern = "0102030405060708"
[[step]]
kind = "total_rolls"
min = 10
max = 20
[[step]]
kind = "radio"
seconds = 2.5
expected_fps = 36
max_lost = 0.01
)",
                                      "p.toml");
    EXPECT_EQ(plan.name, "line 2");
    EXPECT_EQ(plan.replyTimeoutMs, 1200);
    ASSERT_EQ(plan.steps.size(), 3u);
    EXPECT_EQ(plan.steps[0].address, 0x1F0);
    EXPECT_EQ(plan.steps[0].pattern, "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(plan.steps[1].maxRolls, 20);
    EXPECT_EQ(plan.steps[2].seconds, 2.5);
    EXPECT_EQ(plan.steps[2].expectedFps, 36);
    EXPECT_EQ(plan.steps[2].minRate, 0.9);
}

TEST(CheckPlanTest, AnErrorNamesItsLineAndKey) {
    const std::pair<const char*, const char*> cases[] = {
        {"name = \"x\"\n[[step]]\nkind = \"keys\"\ncolour = 3\n", "p.toml:4: step 1 colour: "},
        {"[[step]]\nkind = \"identity\"\n[[step]]\nkind = \"jump\"\n", "p.toml:4: step 2 kind: "},
        {"[[step]]\nkind = \"memory\"\n\npattern = \"ABC\"\n", "p.toml:4: step 1 pattern: "},
        {"[[step]]\nkind = \"memory\"\naddress = 70000\n", "p.toml:3: step 1 address: "},
        {"[[step]]\nkind = \"total_rolls\"\nmin = 5\nmax = 2\n", "p.toml:4: step 1 max: "},
        {"[[step]]\nkind = \"identity\"\nfirmware = [\"2\"]\n", "p.toml:3: step 1 firmware: "},
        {"reply_timeout_ms = \"long\"\n[[step]]\nkind = \"keys\"\n",
         "p.toml:1: reply_timeout_ms: "},
        {"[[step]]\nseconds = 3\n", "p.toml:1: step 1 kind: missing"},
        {"name = \"x\"\n", "p.toml: the plan has no [[step]]"},
        {"[[step]]\nkind = \"radio\"\nseconds = \n", "p.toml:3: "},
    };
    for (const auto& [text, message] : cases) {
        try {
            ParsePlan(text, "p.toml");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ECheckPlan& e) {
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
    }
    EXPECT_THROW(ReadPlan("/nonexistent/plan.toml"), ECheckPlan);
}

TEST(CheckPlanTest, EachRangeTakesItsEndsAndRefusesJustBeyond) {
    const struct {
        const char* text;
        bool taken;
    } cases[] = {
        {"reply_timeout_ms = 1\n[[step]]\nkind = \"keys\"", true},
        {"reply_timeout_ms = 0\n[[step]]\nkind = \"keys\"", false},
        {"reply_timeout_ms = 600000\n[[step]]\nkind = \"keys\"", true},
        {"reply_timeout_ms = 600001\n[[step]]\nkind = \"keys\"", false},
        {"[[step]]\nkind = \"radio\"\nseconds = 0.5", true},
        {"[[step]]\nkind = \"radio\"\nseconds = 0.49", false},
        {"[[step]]\nkind = \"radio\"\nseconds = 3600", true},
        {"[[step]]\nkind = \"radio\"\nseconds = 3600.5", false},
        {"[[step]]\nkind = \"radio\"\nmin_rate = 0", true},
        {"[[step]]\nkind = \"radio\"\nmin_rate = -0.01", false},
        {"[[step]]\nkind = \"radio\"\nmin_rate = 1", true},
        {"[[step]]\nkind = \"radio\"\nmin_rate = 1.01", false},
        {"[[step]]\nkind = \"radio\"\nmax_lost = 0", true},
        {"[[step]]\nkind = \"radio\"\nmax_lost = -0.01", false},
        {"[[step]]\nkind = \"radio\"\nmax_lost = 1", true},
        {"[[step]]\nkind = \"radio\"\nmax_lost = 1.01", false},
        {"[[step]]\nkind = \"radio\"\nexpected_fps = 0.1", true},
        {"[[step]]\nkind = \"radio\"\nexpected_fps = 0.09", false},
        {"[[step]]\nkind = \"radio\"\nexpected_fps = 1000", true},
        {"[[step]]\nkind = \"radio\"\nexpected_fps = 1000.1", false},
        {"[[step]]\nkind = \"memory\"\naddress = 0", true},
        {"[[step]]\nkind = \"memory\"\naddress = -1", false},
        {"[[step]]\nkind = \"memory\"\naddress = 0xFFFF", true},
        {"[[step]]\nkind = \"memory\"\naddress = 0x10000", false},
        {"[[step]]\nkind = \"memory\"\npattern = \"A5\"", true},
        {"[[step]]\nkind = \"memory\"\npattern = \"\"", false},
        {"[[step]]\nkind = \"memory\"\npattern = \"0102030405060708\"", true},
        {"[[step]]\nkind = \"memory\"\npattern = \"010203040506070809\"", false},
        {"[[step]]\nkind = \"total_rolls\"\nmin = 0", true},
        {"[[step]]\nkind = \"total_rolls\"\nmin = -1", false},
        {"[[step]]\nkind = \"total_rolls\"\nmax = 2147483647", true},
        {"[[step]]\nkind = \"total_rolls\"\nmax = 2147483648", false},
        {"[[step]]\nkind = \"total_rolls\"\nmin = 5\nmax = 5", true},
        {"[[step]]\nkind = \"total_rolls\"\nmin = 5\nmax = 4", false},
        {"[[step]]\nkind = \"identity\"\nfirmware = [\"0.0\", \"255.255\"]", true},
        {"[[step]]\nkind = \"identity\"\nfirmware = [\"256.0\"]", false},
        {"[[step]]\nkind = \"identity\"\nfirmware = [\"2.256\"]", false},
    };
    for (const auto& c : cases) {
        bool taken = true;
        try {
            ParsePlan(c.text, "p.toml");
        } catch (const ECheckPlan&) {
            taken = false;
        }
        EXPECT_EQ(taken, c.taken) << c.text;
    }
}

// Only a regular file of bounded size and steps is read: nothing can make the reading
// wait for a writer or run until memory is out.
TEST(CheckPlanTest, APlanIsReadFromABoundedRegularFileOnly) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("wct-plan-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const auto file = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    };
    std::string steps;
    for (size_t i = 0; i <= kMaxPlanSteps; ++i) steps += "[[step]]\nkind = \"keys\"\n";
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct TCase {
        std::string path;
        const char* error;  // "" for a plan that is read
    };
    const TCase cases[] = {
        {file("ok.toml", "[[step]]\nkind = \"keys\"\n"), ""},
        {fifo, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {dir.string(), "not a regular file"},
        {(dir / "missing.toml").string(), "cannot be read: No such file or directory"},
        {file("big.toml", "# " + std::string(kMaxPlanBytes, 'x') + "\n"),
         "bytes; a plan has at most 1048576"},
        {file("long.toml", steps), "step: 1001 steps; a plan has at most 1000"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            EXPECT_FALSE(ReadPlan(c.path).steps.empty());
            EXPECT_STREQ(c.error, "");
        } catch (const ECheckPlan& e) {
            const std::string what = e.what();
            EXPECT_NE(*c.error, '\0') << what;
            EXPECT_NE(what.find(c.error), std::string::npos) << what;
            EXPECT_EQ(what.rfind(c.path, 0), 0u) << what;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace wct::check
