// SPDX-License-Identifier: Apache-2.0
#include "wired/velox_frame.h"

#include <gtest/gtest.h>

#include "common/hex.h"

namespace wct::wired {
namespace {

TEST(VeloxFrame, CarriesCommandAndParametersBetweenF0AndF7) {
    EXPECT_EQ(BytesToHex(BuildFrame(1, 120, 126)), "F001787E00F7");
    EXPECT_EQ(BytesToHex(BuildFrame(3, 0, 0)),
              "F0030000"
              "00F7");
}

TEST(VeloxFrame, OfIdentificationAlwaysHasASecondParameterOfZero) {
    EXPECT_EQ(BytesToHex(BuildFrame(8, 0x28, 5)),
              "F0082800"
              "00F7");
}

TEST(VeloxIdentification, NamesTheGenerationOfEachAnswerAndRefusesOthers) {
    const std::tuple<uint8_t, double, bool> answers[] = {{0x50, 4, false},  {0x54, 5, true},
                                                         {0x55, 4.5, true}, {0x58, 6, true},
                                                         {0x5A, 5.5, true}, {0x5C, 7, true}};
    for (const auto& [answer, version, clear] : answers) {
        const auto identified = DecodeIdentification(answer);
        ASSERT_TRUE(identified) << int(answer);
        EXPECT_EQ(identified->version, version);
        EXPECT_EQ(identified->clearInput, clear);
    }
    for (uint8_t wrong : {0x00, 0x28, 0x51, 0x5B, 0xFF}) EXPECT_FALSE(DecodeIdentification(wrong));
}

TEST(VeloxLoadByte, StaysWithinAByteAndOffTheFrameBytes) {
    EXPECT_EQ(ClampLoadByte(-5), 0);
    EXPECT_EQ(ClampLoadByte(300), 255);
    EXPECT_EQ(ClampLoadByte(256), 255);
    EXPECT_EQ(ClampLoadByte(240), 239);
    EXPECT_EQ(ClampLoadByte(247), 246);
    EXPECT_EQ(ClampLoadByte(120), 120);
}

TEST(VeloxRollPeriod, GivesRollEventsPer100msAndNoneForTheMarkers) {
    EXPECT_NEAR(RollEventsPer100ms(3788), 1.0, 0.001);
    EXPECT_EQ(RollEventsPer100ms(0), 0);
    EXPECT_EQ(RollEventsPer100ms(0xFFFF), 0);
}

TEST(VeloxWord, IsBigEndianAndZeroPastTheEnd) {
    EXPECT_EQ(Word("\x12\x34", 0), 0x1234u);
    EXPECT_EQ(Word("\x12", 0), 0u);
}

}  // namespace
}  // namespace wct::wired
