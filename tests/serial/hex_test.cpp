// SPDX-License-Identifier: Apache-2.0
#include "common/hex.h"

#include <gtest/gtest.h>

namespace wct {
namespace {

TEST(BytesToHex, WritesTwoUppercaseDigitsPerByteWithoutSeparators) {
    EXPECT_EQ(BytesToHex(std::string("\x3E\x0A\x00\x00\x00\x21", 6)), "3E0A00000021");
    EXPECT_EQ(BytesToHex("\x0F"), "0F");
    EXPECT_EQ(BytesToHex("\xFF\x80"), "FF80");
    EXPECT_EQ(BytesToHex(""), "");
}

TEST(HexToInt, ReadsDigitsOfEitherCase) {
    EXPECT_EQ(HexToInt("3e"), 62);
    EXPECT_EQ(HexToInt("21"), 33);
    EXPECT_EQ(HexToInt("aBcD"), 0xABCD);
}

TEST(HexToInt, UsesOnlyTheFirstEightCharacters) {
    EXPECT_EQ(HexToInt("123456789"), 0x12345678);
}

TEST(HexToInt, CountsANonDigitAsMinusOne) {
    EXPECT_EQ(HexToInt("G"), -1);
    EXPECT_EQ(HexToInt("1G"), 15);
}

TEST(HexToInt, WrapsAroundAt32Bits) {
    EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
    EXPECT_EQ(HexToInt("80000000"), INT32_MIN);
}

TEST(HexToInt, GivesZeroForEmptyText) {
    EXPECT_EQ(HexToInt(""), 0);
}

TEST(HexToBytes, TurnsEachPairIntoOneByte) {
    EXPECT_EQ(HexToBytes("3E0400000021"), std::string("\x3E\x04\x00\x00\x00\x21", 6));
    EXPECT_EQ(HexToBytes("3e"), "\x3E");
    EXPECT_EQ(HexToBytes(""), "");
}

TEST(HexToBytes, ConvertsALoneLastCharacterAsOneDigit) {
    EXPECT_EQ(HexToBytes("3E4"), std::string("\x3E\x04", 2));
    EXPECT_EQ(HexToBytes("A"), "\x0A");
}

TEST(HexToBytes, KeepsTheLowEightBitsOfMalformedPairs) {
    // "GG" is -1 * 16 + -1 = -17, whose low byte is 0xEF.
    EXPECT_EQ(HexToBytes("GG"), "\xEF");
}

TEST(HexToBytes, RoundTripsEveryByteValue) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(HexToBytes(BytesToHex(all)), all);
}

}  // namespace
}  // namespace wct
