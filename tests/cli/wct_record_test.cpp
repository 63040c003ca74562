// SPDX-License-Identifier: Apache-2.0
// Recording a `wct` session, replaying it with the replay simulator, and `wct stats`:
// the real binaries against simulators that misbehave on purpose.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "cli/cli_options.h"
#include "common/wire_recording.h"
#include "run_process.h"
#include "sim/dongle_simulator.h"
#include "sim/replay_simulator.h"

namespace wct {
namespace {

using test::Lines;
using test::RunProcess;
using test::TProcessResult;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Every occurrence of `from` (not empty) in `text` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    EXPECT_FALSE(from.empty());
    if (from.empty()) return text;
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

sim::TDongleOptions RegisteredConsoles(int count, double rate) {
    sim::TDongleOptions options;
    for (int id = 1; id <= count; ++id) {
        options.consoles.push_back(sim::DefaultConsole(static_cast<uint8_t>(id)));
        options.consoles.back().joinedAtStart = true;
    }
    options.measureRate = rate;
    return options;
}

class WctRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/wct_record_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
    }
    void TearDown() override {
        for (const char* name : {"/session.rec", "/trace1", "/trace2", "/bad.rec"})
            std::remove((folder + name).c_str());
        rmdir(folder.c_str());
    }

    static TProcessResult Wct(const std::string& port, std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", port, "--reply-timeout", "1000"});
        return RunProcess(WCT_BINARY, args, 60000);
    }
    std::string File(const std::string& name) const { return folder + "/" + name; }

    std::string folder;
};

// Time column apart, the two outputs of `measure` must agree line for line: the times
// are the PC's, read by two runs scheduled differently (the replay's own timing is the
// replay simulator's tests').
void ExpectSameMeasures(const std::string& recorded, const std::string& replayed) {
    const auto a = Lines(recorded);
    const auto b = Lines(replayed);
    ASSERT_EQ(a.size(), b.size()) << recorded << "---\n" << replayed;
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i].substr(a[i].find(' ')), b[i].substr(b[i].find(' ')));
}

TEST_F(WctRecordTest, AMeasureSessionReplayedGivesTheSameOutputAndTrace) {
    // Frames lost, noise before frames, frames cut into pieces: all of it is recorded.
    sim::TSimSettings settings;
    settings.seed = 7;
    sim::TDongleSimulator dongle(RegisteredConsoles(3, 3.5), settings);
    sim::TLinkFaults faults;
    faults.dropFraction = 0.1;
    faults.garbage = true;
    faults.splitMaxChunk = 4;
    dongle.SetLinkFaults(faults);
    dongle.Start();
    const std::string recordedPort = dongle.PortPath();
    const TProcessResult recorded = Wct(
        recordedPort,
        {"--trace", File("trace1"), "--record", File("session.rec"), "measure", "--seconds", "2"});
    dongle.Stop();
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
    ASSERT_GE(Lines(recorded.out).size(), 12u);

    sim::TReplaySimulator replay(ReadWireRecording(File("session.rec")), {});
    replay.Start();
    // Measuring longer than recorded: a replay slowed by a busy PC still plays it all, and
    // nothing comes after it.
    const TProcessResult replayed =
        Wct(replay.PortPath(), {"--trace", File("trace2"), "measure", "--seconds", "4"});
    EXPECT_EQ(replayed.exitCode, 0) << replayed.err;
    ExpectSameMeasures(recorded.out, replayed.out);
    // After the recording's end the replay is silent, and the trace says so.
    std::string trace2 = Replaced(ReadFile(File("trace2")), replay.PortPath(), "PORT");
    for (const char id : {'1', '2', '3'}) {
        const size_t at = trace2.find(std::string("## Console ") + id + " silent: ");
        if (at != std::string::npos) trace2.erase(at, trace2.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(Replaced(ReadFile(File("trace1")), recordedPort, "PORT"), trace2);
}

TEST_F(WctRecordTest, AReplayAnswersOnlyWhatItRecorded) {
    sim::TDongleSimulator dongle(RegisteredConsoles(2, 4));
    dongle.Start();
    ASSERT_EQ(Wct(dongle.PortPath(), {"--record", File("session.rec"), "rolls", "--console", "2"})
                  .exitCode,
              0);
    dongle.Stop();
    sim::TReplaySimulator replay(ReadWireRecording(File("session.rec")), {});
    replay.Start();
    const TProcessResult rolls = Wct(replay.PortPath(), {"rolls", "--console", "2"});
    EXPECT_EQ(rolls.exitCode, 0) << rolls.err;
    EXPECT_EQ(rolls.out, "0\n");
    // Console 1 was never asked in the recording: no answer.
    EXPECT_EQ(Wct(replay.PortPath(), {"rolls", "--console", "1"}).exitCode, 1);
}

TEST_F(WctRecordTest, ARecordingThatCannotBeWrittenIsAUsageError) {
    const TProcessResult result =
        RunProcess(WCT_BINARY, {"--record", "/nonexistent/dir/x.rec", "--simulate", "find"}, 30000);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("/nonexistent/dir/x.rec"), std::string::npos) << result.err;
}

TEST_F(WctRecordTest, AMalformedOrTruncatedRecordingIsRefusedWithItsLine) {
    WriteFile(File("bad.rec"),
              std::string(kWireRecordingHeader) + "\n10 -> 3E0A00000021\n20 <- 3E0X\n");
    TProcessResult result = RunProcess(WCT_SIM_PROGRAM, {"replay", File("bad.rec")}, 10000);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("line 3: '0X' is not hex"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");

    WriteFile(File("bad.rec"),
              std::string(kWireRecordingHeader) + "\n10 -> 3E0A00000021\n20 <- 3E0A");
    result = RunProcess(WCT_SIM_PROGRAM, {"replay", File("bad.rec")}, 10000);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("line 3: truncated"), std::string::npos) << result.err;

    result = RunProcess(WCT_SIM_PROGRAM, {"replay", File("missing.rec")}, 10000);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("missing.rec"), std::string::npos) << result.err;
}

// The figures `wct stats --json` printed for one console.
struct TConsoleFigures {
    double lostShare = -1;
    double versionMedianMs = -1;
    int frames = 0;
};

double JsonNumber(const std::string& json, const std::string& key, size_t from) {
    const size_t at = json.find("\"" + key + "\":", from);
    return at == std::string::npos ? -1 : std::stod(json.substr(at + key.size() + 3));
}

TConsoleFigures Figures(const std::string& json, int console) {
    TConsoleFigures f;
    const size_t at = json.find("{\"console\":" + std::to_string(console) + ",");
    if (at == std::string::npos) return f;
    f.frames = static_cast<int>(JsonNumber(json, "frames", at));
    f.lostShare = JsonNumber(json, "lost_share", at);
    const size_t version = json.find("{\"command\":\"0A\"", at);
    const size_t next = json.find("{\"console\":", at + 1);
    if (version != std::string::npos && version < next)
        f.versionMedianMs = JsonNumber(json, "median_ms", version);
    return f;
}

TEST_F(WctRecordTest, StatsCountTheLostShareAndTheReplyDelayTheSimulatorWasGiven) {
    sim::TSimSettings settings;
    settings.seed = 2;
    sim::TDongleSimulator dongle(RegisteredConsoles(4, 100), settings);
    sim::TLinkFaults faults;
    faults.dropFraction = 0.1;
    faults.replyDelayMs = 40;
    dongle.SetLinkFaults(faults);
    dongle.Start();
    const TProcessResult result =
        Wct(dongle.PortPath(), {"stats", "--seconds", "4", "--rate", "100", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    int frames = 0;
    double lost = 0;
    for (int console = 1; console <= 4; ++console) {
        const TConsoleFigures f = Figures(result.out, console);
        EXPECT_GT(f.frames, 250) << result.out;
        frames += f.frames;
        lost += f.lostShare * f.frames / (1 - f.lostShare);
        if (f.versionMedianMs >= 0) {
            // Never less than the delay; never past the reply time-out, after which an
            // answer counts as none.
            EXPECT_GE(f.versionMedianMs, 40) << result.out;
            EXPECT_LT(f.versionMedianMs, 1000) << result.out;
        }
    }
    EXPECT_NEAR(lost / (frames + lost), 0.10, 0.02) << result.out;
    // Most version probes come back (a tenth of the answers are dropped).
    int timed = 0;
    for (int console = 1; console <= 4; ++console)
        timed += Figures(result.out, console).versionMedianMs >= 0;
    EXPECT_GE(timed, 3) << result.out;
}

TEST_F(WctRecordTest, StatsPrintATableWithOneRowPerConsole) {
    sim::TDongleSimulator dongle(RegisteredConsoles(2, 20));
    dongle.Start();
    const TProcessResult result = Wct(dongle.PortPath(), {"stats", "--seconds", "2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = Lines(result.out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "console frames fps expected_fps lost lost_pct longest_silence_ms nacks unanswered "
              "latency_ms");
    // Counted from the start of the command: the dongle's own answers before it are not.
    EXPECT_EQ(lines[1].substr(0, 2), "1 ") << result.out;
    EXPECT_EQ(lines[2].substr(0, 2), "2 ") << result.out;
    EXPECT_EQ(lines[3], "malformed_frames 0");
}

}  // namespace
}  // namespace wct

namespace wct {
namespace {

TEST(WctRecordOptions, RecordIsAGlobalOptionAndStatsNeedsItsSeconds) {
    const cli::TCliOptions o =
        cli::ParseCommandLine({"--record", "s.rec", "stats", "--seconds", "3", "--rate", "3.5"});
    EXPECT_EQ(o.record, "s.rec");
    EXPECT_EQ(o.rate, 3.5);
    EXPECT_FALSE(o.json);
    EXPECT_THROW(cli::ParseCommandLine({"stats"}), cli::EUsage);
    EXPECT_THROW(cli::ParseCommandLine({"--record"}), cli::EUsage);
    EXPECT_THROW(cli::ParseCommandLine({"stats", "--seconds", "1", "--rate", "0"}), cli::EUsage);
    EXPECT_THROW(cli::ParseCommandLine({"stats", "--seconds", "1", "--rate", "fast"}), cli::EUsage);
    EXPECT_THROW(cli::ParseCommandLine({"measure", "--seconds", "1", "--json"}), cli::EUsage);
}

}  // namespace
}  // namespace wct
