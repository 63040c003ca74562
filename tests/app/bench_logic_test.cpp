// SPDX-License-Identifier: Apache-2.0
// What the main window shows and accepts, without a window: the grids' texts, the read
// line and the field checks.
#include <gtest/gtest.h>

#include "app/bench_texts.h"
#include "app/field_checks.h"

namespace wct {
namespace {

TEST(BenchTextsTest, ASpeedShowsOneDecimalOfTheRollFormula) {
    TMiraConsoleMeasure m;
    m.Rpm = 1000;  // 1000 x 2700 x 3.14 / 1000000 = 8.478 km/h
    m.HeartRate = 121;
    m.Keys = 4;
    const TMeasureTexts texts = MeasureTexts(m);
    EXPECT_EQ(texts.rpm, "1000");
    EXPECT_EQ(texts.speed, "8.5");
    EXPECT_EQ(texts.heartRate, "121");
    EXPECT_EQ(texts.cadence, "0");
    EXPECT_EQ(texts.keys, "4");
    EXPECT_EQ(OneDecimal(0), "0.0");
}

TEST(BenchTextsTest, AConsoleRowShowsItsIdentityInHex) {
    TMiraConsoleInfo c;
    c.Version = 0x10;
    c.Serial = -1;  // the low 32 bits
    c.TotalRolls = 1234;
    c.Connected = true;
    c.FirmwareMajor = 2;
    c.FirmwareMinor = 0xAB;
    const TConsoleTexts texts = ConsoleTexts(c);
    EXPECT_EQ(texts.version, "000010");
    EXPECT_EQ(texts.serial, "FFFFFFFF");
    EXPECT_EQ(texts.rolls, "1234");
    EXPECT_EQ(texts.connected, "Si");
    EXPECT_EQ(texts.used, "No");
    EXPECT_EQ(texts.firmware, "02 AB");
}

TEST(BenchTextsTest, AReadLineHoldsTheTimeThenEachByteReadAndNoMore) {
    TMiraConsoleInfo entry;
    entry.Data = {0xAA, 0x05, 0, 0, 0, 0, 0, 0x77};
    entry.DataCount = 2;
    EXPECT_EQ(ReadLine("10:11:12", entry), "10:11:12  AA 05");
    entry.DataCount = 99;  // a count past the data shows the data
    EXPECT_EQ(ReadLine("t", entry), "t  AA 05 00 00 00 00 00 77");
    entry.DataCount = 0;
    EXPECT_EQ(ReadLine("t", entry), "t ");
}

TEST(FieldChecksTest, ADecimalFieldTakesAWholeNumberInRangeAndNamesItselfOtherwise) {
    EXPECT_EQ(DecimalField("Bytes", " 0008 ", 0, 8), 8);
    EXPECT_EQ(DecimalField("Bytes", "0", 0, 8), 0);
    const auto message = [](std::string_view text) {
        try {
            DecimalField("Bytes", text, 0, 8);
        } catch (const EFieldError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message("abc"), "Bytes: 'abc' is not a whole number");
    EXPECT_EQ(message("1.5"), "Bytes: '1.5' is not a whole number");
    EXPECT_EQ(message(""), "Bytes: '' is not a whole number");
    EXPECT_EQ(message("9"), "Bytes: 9 is outside 0 to 8");
    EXPECT_EQ(message("-1"), "Bytes: -1 is outside 0 to 8");
    EXPECT_EQ(message("99999999999999999999"), "Bytes: 99999999999999999999 is outside 0 to 8");
}

TEST(FieldChecksTest, AHexFieldTakesUpToItsDigitsInEitherCase) {
    EXPECT_EQ(HexField("Address", "07f8", 4), 0x7F8);
    EXPECT_EQ(HexField("Address", "FFFF", 4), 0xFFFF);
    EXPECT_THROW(HexField("Address", "10000", 4), EFieldError);
    EXPECT_THROW(HexField("Address", "", 4), EFieldError);
    EXPECT_THROW(HexField("Address", "-1", 4), EFieldError);
    try {
        HexField("Byte 3", "G", 2);
        FAIL();
    } catch (const EFieldError& e) {
        EXPECT_STREQ(e.what(), "Byte 3: 'G' is not a hex value of at most 2 digits");
    }
}

TEST(FieldChecksTest, HexBytesTakeEveryPairAndRefuseAnyOtherCharacter) {
    EXPECT_EQ(HexBytesField("Frame", "3e0421"), std::string("\x3E\x04\x21"));
    EXPECT_EQ(HexBytesField("Frame", ""), "");
    EXPECT_THROW(HexBytesField("Frame", "3E 04"), EFieldError);
    EXPECT_THROW(HexBytesField("Frame", "0x3E"), EFieldError);
}

TEST(FieldChecksTest, AResistanceCellIsOneHexByteOrNothing) {
    EXPECT_EQ(ResistanceCell("1a"), uint8_t{0x1A});
    EXPECT_EQ(ResistanceCell(" F "), uint8_t{0x0F});
    EXPECT_EQ(ResistanceCell("100"), std::nullopt);
    EXPECT_EQ(ResistanceCell("zz"), std::nullopt);
    EXPECT_EQ(ResistanceCell("err"), std::nullopt);
    EXPECT_EQ(ResistanceCell(""), std::nullopt);
}

}  // namespace
}  // namespace wct
