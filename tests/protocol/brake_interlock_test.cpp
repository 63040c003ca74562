// SPDX-License-Identifier: Apache-2.0
// The brake interlock at the wire: what every resistance frame carries for a console
// whose heart is beyond the bench's maximum, whoever asked for a level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/protocol_fixture.h"
#include "support/resistance_levels.h"

namespace wct {
namespace {

using test::ProtocolSimTest;

class BrakeInterlockTest : public ProtocolSimTest {
protected:
    void SetUp() override {
        ProtocolSimTest::SetUp();
        Connect();
        Register(1);
        protocol.SetWireTap(&levels);
        protocol.SetMeasure(true);
        // A writer that knows nothing of hearts: the window's grid, `wct resistance`.
        protocol.OnBeforeSendResistance = [this] { protocol.SetConsoleResistance(1, 0x80, 0, 0); };
        protocol.SetResistanceInterval(250);
    }
    void TearDown() override {
        protocol.StopResistanceSending();
        protocol.SetWireTap(nullptr);
        ProtocolSimTest::TearDown();
    }
    void HeartRate(uint8_t bpm) {
        simulator->SetRider(1, {1000, bpm, 80});
        ASSERT_TRUE(PumpUntil([&] {
            return protocol.LastMeasure()->size() > 1 && (*protocol.LastMeasure())[1].HeartRate == bpm;
        }));
    }
    // `count` more resistance frames on the wire; their levels for console 1.
    std::vector<int> Frames(size_t count) {
        const size_t first = levels.levels.size();
        EXPECT_TRUE(PumpUntil([&] { return levels.levels.size() >= first + count; }));
        return {levels.levels.begin() + static_cast<long>(first), levels.levels.end()};
    }
    int Traced(const std::string& text) const {
        int n = 0;
        for (const std::string& line : memo.lines) n += line.find(text) != line.npos;
        return n;
    }

    test::TResistanceLevels levels{1};
};

TEST_F(BrakeInterlockTest, AConsoleAboveTheBenchMaximumGetsNoBrakeWhateverAWriterAsks) {
    HeartRate(230);
    ASSERT_TRUE(protocol.BrakeInterlock().Cut(1));
    protocol.StartResistanceSending();
    for (int level : Frames(4)) EXPECT_EQ(level, 0);
    EXPECT_EQ(protocol.Resistances().at(0).Resistance, 0x80) << "the request is kept";
    EXPECT_EQ(Traced("Console 1: heart rate 230 above 220: brake held at 0"), 1);

    HeartRate(150);
    ASSERT_TRUE(PumpUntil([&] { return !protocol.BrakeInterlock().Cut(1); }));
    for (int level : Frames(2)) EXPECT_EQ(level, 0x80);
    EXPECT_EQ(Traced("Console 1: heart rate 150 at or below 215: brake released"), 1);
}

TEST_F(BrakeInterlockTest, TheBenchMaximumIsTheOperatorsAndALostSignalHoldsTheCut) {
    protocol.BrakeInterlock().SetBenchMaximum(180);
    HeartRate(181);
    ASSERT_TRUE(protocol.BrakeInterlock().Cut(1));
    HeartRate(0);  // the strap is lost
    protocol.StartResistanceSending();
    for (int level : Frames(3)) EXPECT_EQ(level, 0);
    EXPECT_TRUE(protocol.BrakeInterlock().Cut(1));
    HeartRate(175);
    ASSERT_TRUE(PumpUntil([&] { return !protocol.BrakeInterlock().Cut(1); }));
}

TEST(BrakeInterlockNote, NamesAHandTypedResistanceFrameOnly) {
    const std::string_view levels("\x00\x80", 2);
    EXPECT_NE(TBrakeInterlock::PastInterlockNote(BuildFrame(mcResistances, 0, levels)), "");
    EXPECT_EQ(TBrakeInterlock::PastInterlockNote(BuildFrame(mcMeasure, 0, "\x01")), "");
    EXPECT_EQ(TBrakeInterlock::PastInterlockNote("\x3E"), "");
}

}  // namespace
}  // namespace wct
