// SPDX-License-Identifier: Apache-2.0
// The inverse lookup on the main window's map: which level gives a power at a speed.
#include <gtest/gtest.h>

#include <limits>

#include "common/emnox.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

class ResistanceLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        map.SetText(ShippedResistanceMapText());
        map.LoadMap();
        device.SetResistanceMap(&map);
        device.SetTrainerVersion(5);  // no speed caps
    }

    TResistanceMap map;
    TVeloxDeviceW device;
};

TEST_F(ResistanceLookupTest, APowerBetweenTwoLevelsInterpolatesTheLevel) {
    // Level 60 gives 168 W and level 80 gives 221 W at 20 km/h.
    EXPECT_EQ(device.ResistanceForPower(200, nullptr, 20), 72);
    EXPECT_EQ(device.PowerToShow(), 200);
}

TEST_F(ResistanceLookupTest, APowerAboveTheStrongestLevelGivesThatLevelAndItsPower) {
    EXPECT_EQ(device.ResistanceForPower(500, nullptr, 20), 175);
    EXPECT_EQ(device.PowerToShow(), 481);
}

TEST_F(ResistanceLookupTest, AboveTheLastSpeedTheLastColumnsStrongestLevelIsUsed) {
    // Only levels 0 and 20 have a power at 85 km/h.
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 90), 20);
    EXPECT_EQ(device.PowerToShow(), 808);
}

TEST_F(ResistanceLookupTest, BelowTheFirstSpeedItsPowersAreUsedAsTheyAre) {
    // At 5 km/h level 20 gives 16 W and level 40 gives 17 W.
    EXPECT_EQ(device.ResistanceForPower(17, nullptr, 3), 40);
    EXPECT_EQ(device.PowerToShow(), 17);
    EXPECT_EQ(device.ResistanceForPower(100, nullptr, 3), 175);
    EXPECT_EQ(device.PowerToShow(), 47);
}

TEST_F(ResistanceLookupTest, BetweenTwoSpeedsThePowersAreInterpolated) {
    // At 22.5 km/h level 0 gives 111 W, level 20 gives 122.5 W.
    EXPECT_EQ(device.ResistanceForPower(122, nullptr, 22.5), 19);  // 20 * 11 / 11.5
}

TEST_F(ResistanceLookupTest, ZeroSpeedGivesZeroAndLeavesThePowerShown) {
    device.SetPowerToShow(123);
    std::vector<std::string> trace;
    EXPECT_EQ(device.ResistanceForPower(300, &trace, 0), 0);
    EXPECT_EQ(device.PowerToShow(), 123);
    EXPECT_TRUE(trace.empty());
}

TEST_F(ResistanceLookupTest, APowerAtOrBelowTheFirstLevelGivesZero) {
    EXPECT_EQ(device.ResistanceForPower(96, nullptr, 20), 0);
    EXPECT_EQ(device.PowerToShow(), 96);
    EXPECT_EQ(device.ResistanceForPower(10, nullptr, 20), 0);
    EXPECT_EQ(device.PowerToShow(), 96);
}

TEST_F(ResistanceLookupTest, CalibrationAndReducerScaleTheResult) {
    device.SetCalibration(1.5);
    device.SetResistanceReducer(0.5);
    EXPECT_EQ(device.ResistanceForPower(200, nullptr, 20), 54);  // 72 * 0.75
}

TEST_F(ResistanceLookupTest, VersionsFourAndFourAndAHalfAreCappedAtLowSpeeds) {
    device.SetTrainerVersion(4);
    EXPECT_EQ(device.VeloxVersion(), 4.5);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 12), 175) << "below the cap of 190";
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 9.9), 160);
    device.SetCalibration(2);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 12), 190);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 10), 170);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 18.9), 250);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 19.5), 255);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 20), 350) << "no cap from 20 km/h";
    device.SetTrainerVersion(5);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 12), 350);
}

TEST_F(ResistanceLookupTest, MilesPerHourAreLookedUpInKilometres) {
    device.SetUOM(umMiles);
    std::vector<std::string> trace;
    EXPECT_EQ(device.ResistanceForPower(200, &trace, 20 / 1.609), 72);
    EXPECT_EQ(trace.at(0), "20.0\t200\t72\t200\t20");
}

TEST_F(ResistanceLookupTest, EveryLookupLeavesOneTraceLine) {
    std::vector<std::string> trace;
    device.ResistanceForPower(500, &trace, 20);
    device.ResistanceForPower(200, &trace, 7.5);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], "20.0\t500\t175\t481\t20");
    EXPECT_EQ(trace[1].substr(0, 8), "7.5\t200\t");
    EXPECT_EQ(trace[1].substr(trace[1].size() - 2), "\t8") << "7.5 rounds to even";
}

TEST_F(ResistanceLookupTest, InterpolateRefusesDecreasingPairsAndExtrapolates) {
    EXPECT_EQ(TVeloxDeviceW::Interpolate(5, 0, 10, 0, 100), 50);
    EXPECT_EQ(TVeloxDeviceW::Interpolate(20, 0, 10, 0, 100), 200);
    EXPECT_EQ(TVeloxDeviceW::Interpolate(7, 3, 3, 4, 9), 4);
    try {
        TVeloxDeviceW::Interpolate(1, 2, 1, 0, 1);
        FAIL() << "decreasing x accepted";
    } catch (const std::domain_error& e) {
        EXPECT_STREQ(e.what(), "x1>x2 or y1>y2");
    }
    EXPECT_THROW(TVeloxDeviceW::Interpolate(1, 1, 2, 5, 4), std::domain_error);
}

TEST_F(ResistanceLookupTest, AMapWhosePowersFallAlongALevelIsRefusedBeforeALookupCouldRaise) {
    map.SetText("0\t10\t20\n0\t50\t100\n20\t60\t55\n\n");
    EXPECT_THROW(map.LoadMap(), EMNox);
}

TEST_F(ResistanceLookupTest, WithoutALoadedMapTheLookupSaysWhatIsMissing) {
    TVeloxDeviceW bare;
    bare.SetName("Rider1");
    EXPECT_THROW(bare.ResistanceForPower(200, nullptr, 20), std::logic_error);
    TResistanceMap unloaded;
    bare.SetResistanceMap(&unloaded);
    try {
        bare.ResistanceForPower(200, nullptr, 20);
        FAIL();
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Rider1: the resistance map is not loaded (LoadMap)");
    }
}

TEST_F(ResistanceLookupTest, AMapRefusedBeforeItsGridWasReadIsRefusedNotRead) {
    // Loading stops at the header (no speed column), or before any cell (a blank line).
    for (const char* text : {"\n20\t50\n40\t80\n\n", "0\n20\n40\n\n", "0\t5\n0\t3\n\n20\t4\n\n"}) {
        map.SetText(text);
        EXPECT_THROW(map.LoadMap(), EMNox) << text;
        EXPECT_THROW(device.ResistanceForPower(60, nullptr, 20), std::logic_error) << text;
    }
}

TEST_F(ResistanceLookupTest, ALevelBeyondTheIntRangeSaturates) {
    map.SetText("0\t10\t20\n0\t50\t100\n1e24\t80\t150\n\n");
    map.LoadMap();
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 20), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(device.PowerToShow(), 150);
    device.SetResistanceReducer(-1);
    EXPECT_EQ(device.ResistanceForPower(2000, nullptr, 20), -std::numeric_limits<int32_t>::max());
}

TEST_F(ResistanceLookupTest, AMapThatGoesAwayIsDropped) {
    auto* temporary = new TResistanceMap;
    device.SetResistanceMap(temporary);
    delete temporary;
    EXPECT_EQ(device.ResistanceMap(), nullptr);
}

}  // namespace
}  // namespace wct
