// SPDX-License-Identifier: Apache-2.0
// Map calibration: a settings holder with its defaults and stored form.
#include "device/map_calibration.h"

#include <gtest/gtest.h>

#include "common/stored_form.h"

namespace wct {
namespace {

TEST(MapCalibrationTest, ANewCalibrationHoldsOneInTheCorrectionsAndZeroElsewhere) {
    TMapCalibration c;
    EXPECT_EQ(c.CalibrationP1(), 1);
    EXPECT_EQ(c.CalibrationP2(), 1);
    EXPECT_EQ(c.CalibrationP3(), 1);
    EXPECT_EQ(c.Speed1() + c.Speed2() + c.Speed3(), 0);
    EXPECT_EQ(c.Resist1() + c.Resist2() + c.Resist3(), 0);
    EXPECT_EQ(c.P1MaxValue() + c.P2MaxValue() + c.P3MaxValue(), 0);
    EXPECT_EQ(c.P1MinValue() + c.P2MinValue() + c.P3MinValue(), 0);
    EXPECT_EQ(c.VeloxVersion(), 0);
    EXPECT_FALSE(c.UseMapCalibration());
}

TEST(MapCalibrationTest, ACorrectionOutsideItsRangeIsKeptAsGiven) {
    TMapCalibration c;
    c.SetP1MinValue(2);
    c.SetP1MaxValue(5);
    c.SetCalibrationP1(9);
    EXPECT_EQ(c.CalibrationP1(), 9);
    c.SetCalibrationP1(-3);
    EXPECT_EQ(c.CalibrationP1(), -3);
}

TEST(MapCalibrationTest, OnlyValuesOffTheirDefaultsAreStoredAndAllReadBack) {
    TComponent form;
    auto* c = new TMapCalibration(&form);
    c->SetName("MapCalibration1");
    std::string text = WriteComponent(form);
    EXPECT_EQ(text.find("CalibrationP1"), std::string::npos) << text;
    EXPECT_EQ(text.find("UseMapCalibration"), std::string::npos) << text;
    EXPECT_NE(text.find("P3MinValue = 0"), std::string::npos) << "no default: always stored";
    EXPECT_NE(text.find("VeloxVersion = 0"), std::string::npos);

    c->SetCalibrationP2(7);
    c->SetSpeed3(25);
    c->SetResist2(120);
    c->SetUseMapCalibration(true);
    c->SetVeloxVersion(4.5);
    c->SetP2MaxValue(9);
    text = WriteComponent(form);

    TComponent copy;
    auto* loaded = new TMapCalibration(&copy);
    loaded->SetName("MapCalibration1");
    ReadComponent(text, copy);
    EXPECT_EQ(loaded->CalibrationP2(), 7);
    EXPECT_EQ(loaded->Speed3(), 25);
    EXPECT_EQ(loaded->Resist2(), 120);
    EXPECT_TRUE(loaded->UseMapCalibration());
    EXPECT_EQ(loaded->VeloxVersion(), 4.5);
    EXPECT_EQ(loaded->P2MaxValue(), 9);
    EXPECT_EQ(loaded->CalibrationP1(), 1);
}

}  // namespace
}  // namespace wct
