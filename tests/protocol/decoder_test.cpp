// SPDX-License-Identifier: Apache-2.0
// Reply decoding, fed straight into the packet handler: no port involved.
#include <gtest/gtest.h>

#include <vector>

#include "common/hex.h"
#include "common/tick_count.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "support/fixed_locale.h"

namespace wct {
namespace {

class DecoderTest : public ::testing::Test {
protected:
    DecoderTest() { protocol.SetDebugMemo(&memo); }

    void Receive(const std::string& hex) { protocol.PacketReceived(nullptr, HexToBytes(hex)); }
    const std::string& LastLine() const { return memo.lines.back(); }

    TScopedVirtualClock clock{50000};
    test::TFixedLocale locale;
    TStringsMemo memo;
    TMiraWirelessProtocol protocol;
};

TEST(WirelessFrame, CommandFramesAreBuiltByteForByte) {
    EXPECT_EQ(BytesToHex(BuildFrame(mcOpenRegistration, 0)), "3E0200000021");
    EXPECT_EQ(BytesToHex(BuildFrame(mcMeasure, 0, HexToBytes("01"))),
              "3E1300010100"
              "21");
    EXPECT_EQ(BytesToHex(BuildFrame(mcReadValue, 3, HexToBytes("001008"))),
              "3E0F0303001008"
              "0021");
}

TEST(WirelessFrame, ValidationChecksStartStopAndLength) {
    EXPECT_TRUE(IsValidFrame(HexToBytes("3E0A00000021")));
    EXPECT_FALSE(IsValidFrame(HexToBytes("3E0A000021")));      // 5 bytes
    EXPECT_FALSE(IsValidFrame(HexToBytes("3F0A00000021")));    // start
    EXPECT_FALSE(IsValidFrame(HexToBytes("3E0A00000022")));    // stop
    EXPECT_FALSE(IsValidFrame(HexToBytes("3E0A00010021")));    // one byte short of N
    EXPECT_FALSE(IsValidFrame(HexToBytes("3E0A0000000021")));  // one byte past N
    EXPECT_FALSE(IsValidFrame(""));
}

TEST(WirelessFrame, TheLengthByteEndsAFrameWhateverItsPayloadHolds) {
    const std::string frame = HexToBytes(
        "3E0101050B2121212100"
        "21");
    EXPECT_EQ(FrameEnd(frame), static_cast<int>(frame.size()));
    EXPECT_EQ(FrameEnd(frame + HexToBytes("3E01")), static_cast<int>(frame.size()));
}

TEST(WirelessFrame, AFrameShortOfItsLengthWaitsForMoreBytes) {
    EXPECT_EQ(FrameEnd(HexToBytes("3E01")), 0);
    EXPECT_EQ(FrameEnd(HexToBytes("3E0101050B21")), 0);
}

TEST(WirelessFrame, ALengthTheBytesBelieFallsBackOnTheFirstStopByte) {
    // Length 3 points at a byte that is not the stop byte.
    EXPECT_EQ(FrameEnd(HexToBytes("3E0101030B0C0D0E0F0021")), -1);
    // Length 200 would hold back the whole frame that follows the stop byte, wherever
    // that stop byte stands.
    for (const char* corrupt : {"3E0101C80B00", "3E0101C8"})
        EXPECT_EQ(FrameEnd(HexToBytes(std::string(corrupt) + "21" + "3E0A00000021")), -1)
            << corrupt;
    // A stop byte followed by only part of a frame is still taken as payload.
    EXPECT_EQ(FrameEnd(HexToBytes("3E0101C80B00"
                                  "21"
                                  "3E0A0000")),
              0);
}

TEST_F(DecoderTest, AnInvalidPacketIsDroppedWithoutTraceOrEvent) {
    bool raised = false;
    protocol.OnConsoleAdd = [&](int) { raised = true; };
    Receive("3E0500010321");  // cut short at a payload 0x21 by the framer
    EXPECT_TRUE(memo.lines.empty());
    EXPECT_FALSE(raised);
    EXPECT_TRUE(protocol.Consoles().empty());
}

TEST_F(DecoderTest, MeasuresGrowTheTableAndRaiseTheEventWithTheLiveTable) {
    uint8_t reported = 0;
    const std::vector<TMiraConsoleMeasure>* seen = nullptr;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures& val, uint8_t id) {
        reported = id;
        seen = val.Measures.get();
    };
    Receive(
        "3E010705025848504000"
        "21");
    const auto& table = *protocol.LastMeasure();
    ASSERT_EQ(table.size(), 8u);
    EXPECT_EQ(reported, 7);
    EXPECT_EQ(seen, protocol.LastMeasure().Measures.get());
    EXPECT_EQ(table[7].ConsoleID, 7);
    EXPECT_EQ(table[7].Rpm, 600);
    EXPECT_EQ(table[7].HeartRate, 0x48);
    EXPECT_EQ(table[7].Cadence, 0x50);
    EXPECT_EQ(table[7].Keys, 0x40);
    EXPECT_EQ(table[7].MeasureTick, 50000u);
    EXPECT_EQ(table[3].ConsoleID, 0);
    EXPECT_EQ(table[3].Rpm, 0);
    EXPECT_EQ(LastLine(), "<-3E01070502584850400021 Data of console n°7");
}

TEST(DecodeMeasures, RevolutionsGrowOnlyWhileStartedAndTheFirstFrameAddsNothing) {
    TMiraWirelessConsoleMeasures table;
    const std::string frame = HexToBytes(
        "3E0103050258000000"
        "0021");  // 600 rpm
    DecodeMeasures(table, frame, rsStarted, 1000);
    EXPECT_EQ((*table)[3].Revolutions, 0.0);
    DecodeMeasures(table, frame, rsStarted, 2000);
    EXPECT_DOUBLE_EQ((*table)[3].Revolutions, 10.0);
    DecodeMeasures(table, frame, rsPaused, 3000);
    DecodeMeasures(table, frame, rsStopped, 4000);
    EXPECT_DOUBLE_EQ((*table)[3].Revolutions, 10.0);
    EXPECT_EQ((*table)[3].MeasureTick, 4000u);
}

TEST(DecodeMeasures, ElapsedTimeSurvivesATickCounterWrap) {
    TMiraWirelessConsoleMeasures table;
    const std::string frame = HexToBytes(
        "3E0101050258000000"
        "0021");
    DecodeMeasures(table, frame, rsStarted, 0xFFFFFE0Cu);  // 500 ms before the wrap
    DecodeMeasures(table, frame, rsStarted, 500);
    EXPECT_DOUBLE_EQ((*table)[1].Revolutions, 10.0);
}

TEST_F(DecoderTest, DebugNoDataLeavesOutOnlyTheMeasuresLine) {
    protocol.SetDebugNoData(true);
    int events = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++events; };
    Receive(
        "3E010105025800000000"
        "21");
    EXPECT_EQ(events, 1);
    EXPECT_EQ((*protocol.LastMeasure())[1].Rpm, 600);
    EXPECT_TRUE(memo.lines.empty());
    Receive(
        "3E0500010300"
        "21");
    EXPECT_EQ(memo.lines.size(), 1u);
}

TEST_F(DecoderTest, AShortMeasuresFrameIsReportedAndReadsNothingPastItsEnd) {
    int events = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++events; };
    // Two bytes, and four: one short of rpm, heart rate, cadence and keys.
    for (const char* frame : {"3E01090202580021", "3E010904025848500021"}) {
        Receive(frame);
        EXPECT_EQ(LastLine(), "<-" + std::string(frame) + " ## Measures too short, ignored");
    }
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(protocol.LastMeasure()->empty());
}

TEST(RollSpeed, IsTheRollOf45MmAtItsRpmInKmh) {
    EXPECT_DOUBLE_EQ(RollSpeedKmh(1000), 8.478);  // 1000 x 60 x 45 mm x 3.14
    EXPECT_DOUBLE_EQ(RollSpeedKmh(0), 0);
}

TEST_F(DecoderTest, ConsoleAddAndRemoveKeepTheCountAndTheTable) {
    std::vector<int> added, removed;
    protocol.OnConsoleAdd = [&](int id) { added.push_back(id); };
    protocol.OnConsoleRemove = [&](int id) { removed.push_back(id); };
    Receive(
        "3E0500010400"
        "21");
    EXPECT_EQ(protocol.NumberOfConsole(), 1);
    ASSERT_EQ(protocol.Consoles().size(), 5u);
    EXPECT_TRUE(protocol.IsConsoleConnected(4));
    EXPECT_EQ(protocol.Consoles()[4].ID, 4);
    EXPECT_EQ(protocol.Consoles()[2].ReadStatus, 3);
    EXPECT_EQ(protocol.Consoles()[2].WriteStatus, 3);
    EXPECT_FALSE(protocol.IsConsoleConnected(5));  // equal to the table's length
    EXPECT_EQ(LastLine(), "<-3E050001040021 Console Add ID=4");
    Receive("3E01040502580000000021");  // its measures
    ASSERT_EQ((*protocol.LastMeasure())[4].MeasureTick, 50000u);

    Receive(
        "3E0600010400"
        "21");
    EXPECT_EQ((*protocol.LastMeasure())[4].MeasureTick, 0u)
        << "no revolutions across the time away when it comes back";
    Receive(
        "3E0600010400"
        "21");  // count already 0: stays 0, still traced and raised
    EXPECT_EQ(protocol.NumberOfConsole(), 0);
    EXPECT_FALSE(protocol.IsConsoleConnected(4));
    EXPECT_EQ(added, std::vector<int>{4});
    EXPECT_EQ(removed, (std::vector<int>{4, 4}));
    EXPECT_EQ(LastLine(), "<-3E060001040021 Console Remove ID=4");
}

TEST_F(DecoderTest, IdentityRepliesFillTheAnsweringConsolesEntry) {
    Receive(
        "3E090203123456"
        "0021");
    Receive(
        "3E0A020112"
        "0021");
    Receive(
        "3E15020203"
        "070021");
    Receive(
        "3E0B02020100"
        "0021");
    const TMiraConsoleInfo& c = protocol.Consoles()[2];
    EXPECT_EQ(c.Serial, 1193046);
    EXPECT_EQ(c.Version, 0x12);
    EXPECT_EQ(c.FirmwareMajor, 3);
    EXPECT_EQ(c.FirmwareMinor, 7);
    EXPECT_EQ(c.TotalRolls, 8192);
    ASSERT_EQ(memo.lines.size(), 4u);
    EXPECT_EQ(memo.lines[0],
              "<-3E09020312345600"
              "21 Serial Nbr.= 0x123456 ID = 2");
    EXPECT_EQ(memo.lines[1], "<-3E0A0201120021 Version Nbr.= 0x12 ID = 2");
    EXPECT_EQ(memo.lines[2],
              "<-3E1502020307"
              "0021 Firmware Version Nbr.= 0x0307 ID = 2");
    EXPECT_EQ(memo.lines[3],
              "<-3E0B0202010000"
              "21 Total Rolls.= 8192 ID = 2");
    Receive(
        "3E0B02020003"
        "0021");
    EXPECT_EQ(protocol.Consoles()[2].TotalRolls, 96);
}

TEST_F(DecoderTest, CountRepliesSetTheNumberOfConsoles) {
    Receive(
        "3E0400010500"
        "21");
    EXPECT_EQ(protocol.NumberOfConsole(), 5);
    EXPECT_EQ(LastLine(), "<-3E040001050021 Number of Console : 5");
    Receive(
        "3E0200010200"
        "21");
    EXPECT_EQ(protocol.NumberOfConsole(), 2);
    EXPECT_EQ(LastLine(), "<-3E020001020021 Open Dongle Cons.Nbr.=2");
}

TEST_F(DecoderTest, AcksAndNacksSetTheStatusOfTheCommandTheyName) {
    Receive(
        "3E0500010A00"
        "21");  // console 10 joins
    std::vector<std::pair<int, int>> nacks;
    int acks = 0;
    protocol.OnNAck = [&](uint8_t c, uint8_t cmd) { nacks.emplace_back(c, cmd); };
    protocol.OnAck = [&] { ++acks; };

    Receive(
        "3EFE0A011800"
        "21");
    EXPECT_EQ(protocol.Consoles()[10].KeysTestStatus, 2);
    EXPECT_EQ(LastLine(), "<-3EFE0A01180021 NACK Cmd: 18  IDConsole: 0A");
    protocol.SetDebugTime(true);
    Receive(
        "3EFE0A010E00"
        "21");
    EXPECT_EQ(protocol.Consoles()[10].WriteStatus, 2);
    EXPECT_EQ(LastLine(), "12:34:56<-3EFE0A010E0021 NACK");
    protocol.SetDebugTime(false);

    Receive(
        "3EFF0A011900"
        "21");
    Receive(
        "3EFF0A011600"
        "21");
    Receive(
        "3EFF0A011700"
        "21");
    Receive(
        "3EFF0A010E00"
        "21");
    Receive(
        "3EFF0A011300"
        "21");  // names no status: only the event
    const TMiraConsoleInfo& c = protocol.Consoles()[10];
    EXPECT_EQ(c.CardioTestStatus, 1);
    EXPECT_EQ(c.ClockTriggerStatus, 1);
    EXPECT_EQ(c.SignalsTestStatus, 1);
    EXPECT_EQ(c.WriteStatus, 5);
    EXPECT_EQ(acks, 5);
    EXPECT_EQ(LastLine(), "<-3EFF0A01130021 ACK");
    EXPECT_EQ(nacks, (std::vector<std::pair<int, int>>{{10, 0x18}, {10, 0x0E}}));
}

TEST_F(DecoderTest, AckAndNackEventsComeBeforeTheirTraceLineAndJoinsAfter) {
    size_t linesAtEvent = 99;
    protocol.OnAck = [&] { linesAtEvent = memo.lines.size(); };
    Receive("3EFF0101130021");
    EXPECT_EQ(linesAtEvent, 0u);
    protocol.OnNAck = [&](uint8_t, uint8_t) { linesAtEvent = memo.lines.size(); };
    Receive("3EFE0101130021");
    EXPECT_EQ(linesAtEvent, 1u);
    protocol.OnConsoleAdd = [&](int) { linesAtEvent = memo.lines.size(); };
    Receive("3E050001020021");
    EXPECT_EQ(linesAtEvent, 3u);
}

TEST_F(DecoderTest, AnswersNamingAConsoleBeyondTheTableTouchNoEntry) {
    Receive(
        "3E0500010200"
        "21");  // table: 0..2
    int acks = 0, nacks = 0;
    protocol.OnAck = [&] { ++acks; };
    protocol.OnNAck = [&](uint8_t, uint8_t) { ++nacks; };
    Receive("3EFF0901180021");
    Receive("3EFE0901180021");
    Receive("3E0F090201AA0021");
    EXPECT_EQ(protocol.Consoles().size(), 3u);
    EXPECT_EQ(acks, 1);
    EXPECT_EQ(nacks, 1);
    EXPECT_EQ(LastLine(), "<-3E0F090201AA0021 Data ID=9");
}

TEST_F(DecoderTest, DataReadFillsTheBufferOrReportsNothingRead) {
    Receive(
        "3E0500010300"
        "21");
    Receive(
        "3E0F030302AA55"
        "0021");
    const TMiraConsoleInfo& c = protocol.Consoles()[3];
    EXPECT_EQ(c.ReadStatus, 1);
    EXPECT_EQ(c.DataCount, 2);
    EXPECT_EQ(c.Data[0], 0xAA);
    EXPECT_EQ(c.Data[1], 0x55);
    EXPECT_EQ(LastLine(), "<-3E0F030302AA550021 Data ID=3");

    Receive(
        "3E0F03010000"
        "21");  // n = 0: nothing read, data kept
    EXPECT_EQ(c.ReadStatus, 3);
    EXPECT_EQ(c.DataCount, 2);
    EXPECT_EQ(c.Data[0], 0xAA);
}

TEST_F(DecoderTest, DataReadAnnouncingMoreThanEightOrMoreThanItCarriesIsNothingRead) {
    Receive(
        "3E0500010300"
        "21");
    // Nine bytes announced and carried: beyond the 8-byte buffer.
    Receive(
        "3E0F030A09010203040506070809"
        "0021");
    EXPECT_EQ(protocol.Consoles()[3].ReadStatus, 3);
    EXPECT_EQ(protocol.Consoles()[3].DataCount, 0);
    // Eight announced, two carried; and three, one more than carried.
    for (const char* frame : {"3E0F030308AA550021", "3E0F030303AA550021"}) {
        Receive(frame);
        EXPECT_EQ(protocol.Consoles()[3].ReadStatus, 3) << frame;
        EXPECT_EQ(protocol.Consoles()[3].DataCount, 0) << frame;
    }
}

TEST_F(DecoderTest, UnknownCodesOnlyTrace) {
    Receive(
        "3E4201020102"
        "0021");
    EXPECT_EQ(LastLine(),
              "<-3E420102010200"
              "21 ??? unknown message");
    EXPECT_TRUE(protocol.Consoles().empty());
}

TEST_F(DecoderTest, TimePrefixesEveryReceivedLineWhenDebugTimeIsOn) {
    protocol.SetDebugTime(true);
    Receive(
        "3E0500010100"
        "21");
    EXPECT_EQ(LastLine(), "12:34:56<-3E050001010021 Console Add ID=1");
}

}  // namespace
}  // namespace wct
