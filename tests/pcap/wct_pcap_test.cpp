// SPDX-License-Identifier: Apache-2.0
// Captures of `wct --pcap` read by Debian's tshark with this tree's dissectors: what the
// capture says, field by field, against what wct printed and traced for the same run;
// corrupt frames; the export of a recording against a live capture of its replay.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/run_process.h"
#include "common/hex.h"
#include "common/pcapng_file.h"
#include "common/wire_recording.h"
#include "pcapng_reader.h"
#include "sim/dongle_simulator.h"
#include "sim/replay_simulator.h"

namespace wct {
namespace {

using test::Lines;
using test::ReadPcapng;
using test::RunProcess;
using test::TProcessResult;

constexpr int kTimeoutMs = 60000;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

class WctPcapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STRNE(TSHARK, "") << "tshark not found: scripts/setup.sh installs it";
        char dir[] = "/tmp/wct_pcap_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
    }
    void TearDown() override {
        for (const char* name : {"a.pcapng", "b.pcapng", "c.pcapng", "trace", "session.rec"})
            std::remove(File(name).c_str());
        rmdir(folder.c_str());
    }
    std::string File(const std::string& name) const { return folder + "/" + name; }

    // tshark on `capture` with the dissectors of this tree. Debian's tshark runs Lua as
    // root too (its init.lua allows it); a tshark that refuses shows in DissectorsLoad.
    static TProcessResult Tshark(const std::string& capture, std::vector<std::string> args) {
        std::vector<std::string> line = {"-n", "-r", capture,
                                         "-X", "lua_script:" DISSECTORS "/wct_dongle.lua",
                                         "-X", "lua_script:" DISSECTORS "/wct_trainer.lua"};
        line.insert(line.end(), args.begin(), args.end());
        return RunProcess(TSHARK, line, kTimeoutMs);
    }
    // One line per packet that `filter` keeps, the fields separated by '|'.
    static std::vector<std::string> Fields(const std::string& capture, const std::string& filter,
                                           const std::vector<std::string>& fields) {
        std::vector<std::string> args = {"-Y", filter, "-T", "fields", "-E", "separator=|"};
        for (const std::string& f : fields) args.insert(args.end(), {"-e", f});
        const TProcessResult r = Tshark(capture, args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("Lua"), std::string::npos) << r.err;
        return Lines(r.out);
    }

    std::string folder;
};

TEST_F(WctPcapTest, DissectorsLoad) {
    const TProcessResult r = RunProcess(
        TSHARK,
        {"-G", "fields", "-X", "lua_script:" DISSECTORS "/wct_dongle.lua", "-X",
         "lua_script:" DISSECTORS "/wct_trainer.lua"},
        kTimeoutMs);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* field : {"\twct.console\t", "\twct.hr\t", "\twct.level\t",
                              "\twct_trainer.resistance\t", "\twct_trainer.hr\t"})
        EXPECT_NE(r.out.find(field), std::string::npos)
            << field << ": the Lua dissectors did not load (tshark as root without Lua?)";
}

TEST_F(WctPcapTest, AMeasureCaptureHoldsWhatMeasurePrintedAndTheFramesItTraced) {
    const TProcessResult run =
        RunProcess(WCT_BINARY,
                   {"--simulate", "--pcap", File("a.pcapng"), "--trace", File("trace"), "measure",
                    "--seconds", "2"},
                   kTimeoutMs);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> printed = Lines(run.out);
    ASSERT_GE(printed.size(), 8u);

    // Frames with a 0x21 inside are captured, but the bench never reads them.
    const std::vector<std::string> captured =
        Fields(File("a.pcapng"), "wct.reply == 0x01 && !wct.cut_by_framer",
               {"wct.console", "wct.rpm", "wct.speed", "wct.hr", "wct.cadence", "wct.keys"});
    // Measures that came after the stop are captured but no longer printed.
    ASSERT_GE(captured.size(), printed.size());
    EXPECT_LE(captured.size(), printed.size() + 8);
    for (size_t i = 0; i < printed.size(); ++i) {
        const std::vector<std::string> p = Split(printed[i], ' ');
        const std::vector<std::string> c = Split(captured[i], '|');
        ASSERT_EQ(p.size(), 7u);
        ASSERT_EQ(c.size(), 6u) << captured[i];
        char speed[32];
        std::snprintf(speed, sizeof speed, "%.2f", std::stod(c[2]));
        EXPECT_EQ(p[1] + ' ' + p[2] + ' ' + p[3] + ' ' + p[4] + ' ' + p[5] + ' ' + p[6],
                  c[0] + ' ' + c[1] + ' ' + speed + ' ' + c[3] + ' ' + c[4] + ' ' +
                      std::to_string(std::stoi(c[5], nullptr, 16)))
            << "measures line " << i;
    }

    // The commands traced are the commands captured, the dongle search's before them.
    std::vector<std::string> traced;
    for (const std::string& line : Lines(ReadFile(File("trace"))))
        if (line.rfind("->", 0) == 0) traced.push_back(Split(line.substr(2), ' ')[0]);
    std::vector<std::string> sent;
    for (const test::TReadPacket& p : ReadPcapng(File("a.pcapng")).packets)
        if (p.flags == 2) sent.push_back(BytesToHex(p.bytes));
    ASSERT_GE(sent.size(), traced.size());
    ASSERT_GE(traced.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(sent.end() - static_cast<long>(traced.size()), sent.end()),
              traced);
    EXPECT_EQ(Fields(File("a.pcapng"), "wct.command == 0x13", {"wct.console", "wct.measure"}),
              (std::vector<std::string>{"0|1", "0|0"}));
}

TEST_F(WctPcapTest, ResistanceFramesCarryTheLevelsSetPerConsole) {
    const TProcessResult run = RunProcess(
        WCT_BINARY,
        {"--simulate", "--pcap", File("a.pcapng"), "resistance", "--set", "1=40", "--set", "3=70",
         "--seconds", "2"},
        kTimeoutMs);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> frames =
        Fields(File("a.pcapng"), "wct.command == 0x10", {"wct.level_console", "wct.level"});
    ASSERT_GE(frames.size(), 1u);
    for (const std::string& f : frames) EXPECT_EQ(f, "1,2,3|40,0,70");
    // The filters of the README.
    EXPECT_FALSE(Fields(File("a.pcapng"), "wct.console == 3 && wct.hr > 0", {"wct.hr"}).empty());
    EXPECT_TRUE(Fields(File("a.pcapng"), "wct.hr > 250", {"wct.hr"}).empty());
}

// A packet that is not a good frame, and the expert field tshark must flag it with.
struct TBadPacket {
    uint16_t linkType;
    TPacketDirection direction;
    const char* hex;
    const char* expert;
};

TEST_F(WctPcapTest, CorruptFramesAreMarkedAndNeverALuaError) {
    using enum TPacketDirection;
    const TBadPacket cases[] = {
        {kLinkTypeDongle, pdInbound, "", "wct.not_frame"},
        {kLinkTypeDongle, pdInbound, "FFEE01", "wct.not_frame"},
        {kLinkTypeDongle, pdInbound, "3E01", "wct.not_frame"},
        {kLinkTypeDongle, pdInbound, "3E010505025800", "wct.bad_length"},
        {kLinkTypeDongle, pdInbound, "3E0A000178002A", "wct.bad_stop"},
        {kLinkTypeDongle, pdInbound, "3E01050202580021", "wct.short_payload"},
        {kLinkTypeDongle, pdInbound, "3E0F0303050102030021", "wct.short_payload"},
        {kLinkTypeDongle, pdOutbound, "3E0E0301000021", "wct.short_payload"},
        {kLinkTypeDongle, pdInbound, "3E0105050021000000 0021", "wct.cut_by_framer"},
        {kLinkTypeDongle, pdInbound, "3E77000000 21", "wct.unknown_code"},
        {kLinkTypeWiredTrainer, pdInbound, "F00155F7", "wct_trainer.not_frame"},
        {kLinkTypeWiredTrainer, pdInbound, "F0080000000000000000", "wct_trainer.not_frame"},
        {kLinkTypeWiredTrainer, pdOutbound, "F00114FFFF01F4024BF7", "wct_trainer.not_frame"},
        {kLinkTypeWiredTrainer, pdInbound, "F00833000000000000F7", "wct_trainer.bad_answer"},
        {kLinkTypeWiredTrainer, pdInbound, "F00700000000F7"  , "wct_trainer.not_frame"},
        {kLinkTypeWiredTrainer, pdInbound, "F00700000000000000F7", "wct_trainer.unknown_command"},
    };
    TPcapngFile file;
    file.Open(File("a.pcapng"), "test");
    const uint32_t dongle = file.AddInterface(kLinkTypeDongle, "dongle", 115200);
    const uint32_t trainer = file.AddInterface(kLinkTypeWiredTrainer, "trainer", 9600);
    uint64_t t = 1'700'000'000'000'000;
    for (const TBadPacket& c : cases) {
        std::string hex = c.hex;
        std::erase(hex, ' ');
        file.AddPacket(c.linkType == kLinkTypeDongle ? dongle : trainer, t++, c.direction,
                       HexToBytes(hex));
    }
    // And random bytes, frame-like or not, both ways on both links.
    std::mt19937 random(11);
    for (int i = 0; i < 400; ++i) {
        std::string bytes(random() % 24, '\0');
        for (char& b : bytes) b = static_cast<char>(random() % 256);
        if (!bytes.empty() && random() % 2) bytes[0] = i % 2 ? '\x3E' : '\xF0';
        if (bytes.size() > 3 && random() % 2) bytes[3] = static_cast<char>(bytes.size() - 6);
        file.AddPacket(i % 2 ? dongle : trainer, t++,
                       random() % 2 ? TPacketDirection::pdInbound : TPacketDirection::pdOutbound,
                       bytes);
    }
    file.Close();
    ASSERT_EQ(file.Error(), "");

    const TProcessResult all = Tshark(File("a.pcapng"), {"-V"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out.find("Lua Error"), std::string::npos) << all.out.substr(0, 4000);
    EXPECT_EQ(all.err.find("Lua"), std::string::npos) << all.err;
    EXPECT_EQ(all.out.find("Malformed Packet"), std::string::npos);

    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].hex);
        EXPECT_EQ(Fields(File("a.pcapng"),
                         "frame.number == " + std::to_string(i + 1) + " && " + cases[i].expert,
                         {"frame.number"})
                      .size(),
                  1u);
    }
    // The good frames of the random ones carry no error.
    EXPECT_TRUE(
        Fields(File("a.pcapng"), "frame.number > 16 && wct.measure && wct.not_frame", {"wct.measure"})
            .empty());
}

TEST_F(WctPcapTest, AnExportedRecordingHoldsThePacketsOfALiveCaptureOfItsReplay) {
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 2; ++id) {
        options.consoles.push_back(sim::DefaultConsole(id));
        options.consoles.back().joinedAtStart = true;
    }
    sim::TDongleSimulator dongle(options);
    sim::TLinkFaults faults;
    faults.garbage = true;  // noise and frames cut in pieces are packets too
    faults.splitMaxChunk = 3;
    dongle.SetLinkFaults(faults);
    dongle.Start();
    const std::vector<std::string> read = {"--reply-timeout", "1000", "read",      "--console",
                                           "2",               "--address",   "0x10", "--count",
                                           "8"};
    std::vector<std::string> args = {"--port", dongle.PortPath(), "--record", File("session.rec"),
                                     "--pcap", File("a.pcapng")};
    args.insert(args.end(), read.begin(), read.end());
    const TProcessResult recorded = RunProcess(WCT_BINARY, args, kTimeoutMs);
    dongle.Stop();
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;

    sim::TReplaySimulator replay(ReadWireRecording(File("session.rec")), {});
    replay.Start();
    args = {"--port", replay.PortPath(), "--pcap", File("b.pcapng")};
    args.insert(args.end(), read.begin(), read.end());
    const TProcessResult replayed = RunProcess(WCT_BINARY, args, kTimeoutMs);
    ASSERT_EQ(replayed.exitCode, 0) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);

    const TProcessResult exported =
        RunProcess(WCT_BINARY, {"export", "--pcap", File("c.pcapng"), File("session.rec")},
                   kTimeoutMs);
    ASSERT_EQ(exported.exitCode, 0) << exported.err;

    const auto packets = [](const std::string& path) {
        std::vector<std::string> list;
        for (const test::TReadPacket& p : ReadPcapng(path).packets)
            list.push_back(std::to_string(p.flags) + ' ' + BytesToHex(p.bytes));
        return list;
    };
    const std::vector<std::string> live = packets(File("a.pcapng"));
    EXPECT_EQ(packets(File("c.pcapng")), live);
    EXPECT_EQ(packets(File("b.pcapng")), live);
    // Noise was there, cut as such.
    EXPECT_FALSE(Fields(File("c.pcapng"), "wct.not_frame", {"frame.number"}).empty());
    const std::vector<std::string> fields = {"wct.command", "wct.reply", "wct.console",
                                             "wct.address", "wct.data"};
    EXPECT_EQ(Fields(File("c.pcapng"), "wct", fields), Fields(File("b.pcapng"), "wct", fields));

    ASSERT_STRNE(CAPINFOS, "");
    for (const char* name : {"a.pcapng", "b.pcapng", "c.pcapng"}) {
        const TProcessResult info = RunProcess(CAPINFOS, {File(name)}, kTimeoutMs);
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.out.find("Capture application: wct "), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Speed = 115200"), std::string::npos) << info.out;
    }
}

TEST_F(WctPcapTest, ARecordingThatCannotBeReadIsRefusedWithItsLine) {
    std::ofstream(File("session.rec")) << kWireRecordingHeader << "\n10 -> 3E0X\n";
    const TProcessResult r = RunProcess(
        WCT_BINARY, {"export", "--pcap", File("a.pcapng"), File("session.rec")}, kTimeoutMs);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("line 2: '0X' is not hex"), std::string::npos) << r.err;
    EXPECT_EQ(access(File("a.pcapng").c_str(), F_OK), -1);
    EXPECT_EQ(RunProcess(WCT_BINARY, {"export", File("session.rec")}, kTimeoutMs).exitCode, 2);
}

TEST_F(WctPcapTest, ACaptureThatCannotBeWrittenEndsTheCaptureNotTheRun) {
    // Past 1 KiB every write fails (SIGXFSZ ignored): the capture stops, measuring goes on.
    const TProcessResult r = RunProcess(
        "/bin/sh",
        {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" --simulate --pcap \"$1\" measure --seconds 2",
         WCT_BINARY, File("a.pcapng")},
        kTimeoutMs);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_GE(Lines(r.out).size(), 8u);
    EXPECT_NE(r.err.find("writing the capture " + File("a.pcapng") + " failed: File too large"),
              std::string::npos)
        << r.err;
    // What was written before stays a capture tshark reads.
    EXPECT_FALSE(Fields(File("a.pcapng"), "wct", {"wct.console"}).empty());

    const TProcessResult bad = RunProcess(
        WCT_BINARY, {"--simulate", "--pcap", "/nonexistent/x.pcapng", "find"}, kTimeoutMs);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("/nonexistent/x.pcapng"), std::string::npos) << bad.err;
}

TEST_F(WctPcapTest, ATrainerRideIsCapturedWithItsIdentificationAndLoads) {
    const TProcessResult run = RunProcess(
        WCT_BINARY,
        {"--simulate", "--pcap", File("a.pcapng"), "trainer", "ride", "--seconds", "2",
         "--interval", "500", "--load", "40"},
        kTimeoutMs);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string capture = File("a.pcapng");
    EXPECT_EQ(Fields(capture, "wct_trainer.command == 8", {"wct_trainer.ident_byte"}).at(0),
              "0x28");
    EXPECT_EQ(Fields(capture, "wct_trainer.message == 8", {"wct_trainer.answer"}),
              std::vector<std::string>{"0x54"});  // generation 5, long frames
    EXPECT_FALSE(Fields(capture, "wct_trainer.message == 1 && wct_trainer.roll_period",
                        {"wct_trainer.roll_period"})
                     .empty());
    const std::vector<std::string> loads =
        Fields(capture, "wct_trainer.command == 1", {"wct_trainer.resistance"});
    for (const std::string& line : Lines(run.out)) {
        const std::string load = Split(line, ' ').at(7);
        EXPECT_NE(std::find(loads.begin(), loads.end(), load), loads.end()) << line;
    }
    const test::TReadCapture c = ReadPcapng(capture);
    ASSERT_EQ(c.interfaces.size(), 1u);
    EXPECT_EQ(c.interfaces[0].linkType, kLinkTypeWiredTrainer);
    EXPECT_EQ(c.interfaces[0].speed, 9600u);
}

}  // namespace
}  // namespace wct
