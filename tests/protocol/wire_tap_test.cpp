// SPDX-License-Identifier: Apache-2.0
// The protocol component's wire tap and link statistics against the dongle simulator:
// a recording holds every byte that crossed the line, in the order it crossed, and the
// statistics count what the simulator was told to do.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "common/wire_recording.h"
#include "protocol/protocol_fixture.h"
#include "protocol/wire_recorder.h"

namespace wct {
namespace {

using test::ProtocolSimTest;

class WireTapTest : public ProtocolSimTest {
protected:
    void SetUp() override {
        ProtocolSimTest::SetUp();
        char name[] = "/tmp/wct_wire_XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path = name;
        recorder.Open(path);
        protocol.SetWireTap(&recorder);
    }
    void TearDown() override {
        protocol.SetWireTap(nullptr);
        recorder.Close();
        std::remove(path.c_str());
        ProtocolSimTest::TearDown();
    }

    std::vector<TWireChunk> Recorded() {
        protocol.SetWireTap(nullptr);
        recorder.Close();
        EXPECT_EQ(recorder.Error(), "");
        return ReadWireRecording(path);
    }
    static std::string Joined(const std::vector<TWireChunk>& chunks, TWireDirection direction) {
        std::string bytes;
        for (const TWireChunk& c : chunks)
            if (c.direction == direction) bytes += c.bytes;
        return bytes;
    }
    // Every byte the simulator read from the line, in order.
    std::string SimulatorReceived() {
        std::string hex;
        for (const std::string& line : simLines)
            if (line.rfind("<- ", 0) == 0) hex += line.substr(3);
        return HexToBytes(hex);
    }

    std::string path;
    TWireRecorder recorder;
    std::vector<std::string> simLines;
};

TEST_F(WireTapTest, ARecordingHoldsEveryByteBothWaysNoiseAndSplitFramesIncluded) {
    sim::TSimSettings settings;
    settings.clock = &clock;
    std::mutex mutex;
    settings.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        simLines.push_back(line);
        simLog.Sink()(line);
    };
    simulator = std::make_unique<sim::TDongleSimulator>(test::ThreeConsoles(), settings);
    simulator->Start();
    protocol.SetPortDef(simulator->PortPath());
    ASSERT_TRUE(protocol.FindDongle());
    Register(3);
    sim::TLinkFaults faults;
    faults.garbage = true;
    faults.splitMaxChunk = 4;
    simulator->SetLinkFaults(faults);
    int measures = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++measures; };
    protocol.SetMeasure(true);
    ASSERT_TRUE(PumpUntil([&] { return measures >= 12; }));
    protocol.SetMeasure(false);
    EXPECT_TRUE(protocol.TestKeys(1));
    PumpUntil([] { return false; }, 1000);  // what is still on the line arrives

    const std::vector<TWireChunk> chunks = Recorded();
    std::string fromDevice;
    {
        std::lock_guard lock(mutex);
        fromDevice = simLog.Written();
        EXPECT_EQ(Joined(chunks, TWireDirection::wdToDevice), SimulatorReceived());
    }
    EXPECT_EQ(Joined(chunks, TWireDirection::wdFromDevice), fromDevice);
}

TEST_F(WireTapTest, ReceivedBytesAreRecordedBeforeWhatTheirRepliesMakeTheHostSend) {
    Connect();
    Register(1);
    bool asked = false;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t id) {
        if (!asked) protocol.RequestVersion(id);
        asked = true;
    };
    protocol.SetMeasure(true);
    ASSERT_TRUE(PumpUntil([&] { return asked; }));
    protocol.SetMeasure(false);
    protocol.OnMeasuresReceived = nullptr;

    const std::vector<TWireChunk> chunks = Recorded();
    const std::string request = BuildFrame(mcVersion, 1);
    const auto asking = std::find_if(chunks.begin(), chunks.end(),
                                     [&](const TWireChunk& c) { return c.bytes == request; });
    ASSERT_NE(asking, chunks.end());
    const auto firstMeasures = std::find_if(chunks.begin(), chunks.end(), [](const TWireChunk& c) {
        return c.direction == TWireDirection::wdFromDevice &&
               c.bytes.find("\x3E\x01\x01") != std::string::npos;
    });
    ASSERT_NE(firstMeasures, chunks.end());
    EXPECT_LT(firstMeasures - chunks.begin(), asking - chunks.begin());
    EXPECT_LE(firstMeasures->micros, asking->micros);
}

TEST_F(WireTapTest, NacksUnansweredTestsAndDelayedAnswersAreCountedPerConsole) {
    Connect();
    Register(3);
    sim::TLinkFaults faults;
    faults.replyDelayMs = 50;
    simulator->SetLinkFaults(faults);
    protocol.SetReplyTimeOut(1000);
    protocol.LinkStatistics().Clear(GetTickCount());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(protocol.TestCardio(2));  // refused
    EXPECT_FALSE(protocol.TestSignals(2));                             // never answered
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(protocol.TestKeys(3));

    const TMiraLinkReport report = protocol.LinkReport();
    std::map<int, TMiraConsoleLinkStats> byId;
    for (const TMiraConsoleLinkStats& c : report.consoles) byId[c.console] = c;
    EXPECT_EQ(byId[2].nacks, 3u);
    EXPECT_EQ(byId[2].unanswered, 1u);
    EXPECT_EQ(byId[3].nacks, 0u);
    ASSERT_EQ(byId[3].latencies.size(), 1u);
    EXPECT_EQ(byId[3].latencies[0].command, mcTestKeys);
    EXPECT_EQ(byId[3].latencies[0].replies, 5u);
    // The delay, plus the idle steps of the turns that read the answer.
    EXPECT_GE(byId[3].latencies[0].medianMs, 50);
    EXPECT_LT(byId[3].latencies[0].medianMs, 250);
}

TEST_F(WireTapTest, AClosedRecorderRecordsNothingAndTheProtocolGoesOn) {
    recorder.Close();
    Connect();
    Register(2);
    EXPECT_TRUE(protocol.TestKeys(1));
    EXPECT_TRUE(Traced("->3E1801000021 Test Keys ID_Console=1"));
    EXPECT_TRUE(Recorded().empty());
}

TEST(WireRecorder, AFileThatCannotBeCreatedIsNamedWithTheReason) {
    TWireRecorder recorder;
    try {
        recorder.Open("/nonexistent/dir/rec.txt");
        FAIL() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/rec.txt"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos);
    }
    EXPECT_FALSE(recorder.IsOpen());
}

TEST(WireRecorder, AFullDiskStopsTheRecordingWithAReason) {
    TWireRecorder recorder;
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    EXPECT_THROW(recorder.Open("/dev/full"), std::runtime_error);
    EXPECT_NE(recorder.Error().find("No space"), std::string::npos);
    recorder.Written("\x3E");
    EXPECT_FALSE(recorder.IsOpen());
}

}  // namespace
}  // namespace wct
