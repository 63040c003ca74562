// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/stored_form.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"
#include "common/hex.h"

namespace wct {
namespace {

// Records what a framer delivers, as hex, in the order it happened.
class FramerTest : public ::testing::Test {
protected:
    void SetUp() override {
        framer.OnPacket = [this](TComponent*, const std::string& s) {
            log.push_back("P:" + BytesToHex(s));
        };
        framer.OnDiscard = [this](TComponent*, const std::string& s) {
            log.push_back("D:" + BytesToHex(s));
        };
    }
    void UseProtocolSettings() {
        framer.SetStartString(">");
        framer.SetStopString("!");
        framer.SetIncludeStrings(true);
        framer.SetCaseInsensitive(true);
    }
    void UseWiredSettings() {
        framer.SetStartString("\xF0");
        framer.SetStopString("\xF7");
        framer.SetSize(6);
        framer.SetIncludeStrings(true);
        framer.SetCaseInsensitive(true);
        framer.SetMaxBufferSize(4096);
    }
    void Receive(const std::string& hex) { framer.AddData(HexToBytes(hex)); }

    TComDataPacket framer;
    std::vector<std::string> log;
};

using Log = std::vector<std::string>;

TEST_F(FramerTest, BytesBeforeTheStartAreDiscardedAndTheRestStaysBufferedInAPacket) {
    UseProtocolSettings();
    Receive("413E01213E02");
    EXPECT_EQ(log, (Log{"D:41", "P:3E0121"}));
    EXPECT_EQ(BytesToHex(framer.Buffered()), "3E02");
    EXPECT_TRUE(framer.InPacket());
}

TEST_F(FramerTest, AStopByteInALaterChunkCompletesThePacket) {
    UseProtocolSettings();
    Receive("3E01");
    EXPECT_TRUE(log.empty());
    Receive("21");
    EXPECT_EQ(log, (Log{"P:3E0121"}));
}

TEST_F(FramerTest, APayloadStopByteEndsThePacketAndTheRestIsDiscardedUpToTheNextStart) {
    UseProtocolSettings();
    Receive("3E0121AABB3E0221");
    EXPECT_EQ(log, (Log{"P:3E0121", "D:AABB", "P:3E0221"}));
}

TEST_F(FramerTest, ABufferReachingTheBoundIsDiscardedWhole) {
    UseProtocolSettings();
    framer.AddData(std::string(1023, 'x'));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(framer.Buffered().size(), 1023u);
    framer.AddData("x");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "D:" + BytesToHex(std::string(1024, 'x')));
    EXPECT_TRUE(framer.Buffered().empty());
}

TEST_F(FramerTest, AChunkLargerThanTheBoundIsFramedBeforeAnythingIsDiscarded) {
    UseProtocolSettings();
    std::string chunk = std::string(1500, 'y') + "\x3E\x05\x21";
    framer.AddData(chunk);
    EXPECT_EQ(log, (Log{"D:" + BytesToHex(std::string(1500, 'y')), "P:3E0521"}));
    EXPECT_TRUE(framer.Buffered().empty());
}

TEST_F(FramerTest, TheStopStringIsSearchedOnlyAfterTheStartString) {
    UseProtocolSettings();
    Receive("213E21");
    EXPECT_EQ(log, (Log{"D:21", "P:3E21"}));
}

TEST_F(FramerTest, AStartStringSplitAcrossReceptionsIsFoundWhenItsSecondPartArrives) {
    framer.SetStartString("AB");
    framer.SetStopString("Z");
    framer.SetIncludeStrings(true);
    framer.AddData("xxA");
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(framer.InPacket());
    framer.AddData("B1Z");
    EXPECT_EQ(log, (Log{"D:" + BytesToHex("xx"), "P:" + BytesToHex("AB1Z")}));
}

TEST_F(FramerTest, WiredShortPacketEndsAtTheStopByte) {
    UseWiredSettings();
    Receive("F001F7");
    EXPECT_EQ(log, (Log{"P:F001F7"}));
}

TEST_F(FramerTest, WiredSizeCutsTheLongPacketAndLeavesTheStopByteOutOfAPacket) {
    UseWiredSettings();
    Receive("F0010203040506F7");
    Receive("F00102030405F7");
    EXPECT_EQ(log, (Log{"P:F00102030405", "D:06F7", "P:F00102030405"}));
    Receive("");
    EXPECT_EQ(BytesToHex(framer.Buffered()), "F7");
    EXPECT_FALSE(framer.InPacket());
}

TEST_F(FramerTest, WiredSizeIsTestedBeforeTheStopString) {
    UseWiredSettings();
    Receive("F001F7F00203");
    EXPECT_EQ(log, (Log{"P:F001F7F00203"}));
}

TEST_F(FramerTest, WithoutAStopConditionEveryChunkIsOnePacket) {
    framer.SetStartString("S");
    framer.AddData("abc");
    framer.AddData("Sdef");
    EXPECT_EQ(log, (Log{"P:" + BytesToHex("abc"), "P:" + BytesToHex("Sdef")}));
    EXPECT_TRUE(framer.Buffered().empty());
}

TEST_F(FramerTest, StringsAreStrippedAndMatchedRegardlessOfLetterCase) {
    framer.SetStartString("AB");
    framer.SetStopString("CD");
    framer.SetCaseInsensitive(true);
    framer.AddData("ab12cd");
    EXPECT_EQ(log, (Log{"P:" + BytesToHex("12")}));
}

TEST_F(FramerTest, OnlyTheFirstStopStringOccurrenceIsTestedWhenStripping) {
    framer.SetStartString("<");
    framer.SetStopString("!");
    framer.SetSize(5);
    framer.AddData("<a!b!");
    EXPECT_EQ(log, (Log{"P:" + BytesToHex("a!b!")}));
}

TEST_F(FramerTest, ChangingTheStartStringDiscardsWhatIsBuffered) {
    UseProtocolSettings();
    Receive("3E0102");
    framer.SetStartString("<");
    EXPECT_EQ(log, (Log{"D:3E0102"}));
    EXPECT_TRUE(framer.Buffered().empty());
    EXPECT_FALSE(framer.InPacket());
}

TEST_F(FramerTest, SettingAnUnchangedStartStringKeepsTheBuffer) {
    UseProtocolSettings();
    Receive("3E01");
    framer.SetStartString(">");
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(BytesToHex(framer.Buffered()), "3E01");
}

TEST_F(FramerTest, CaseFoldingLeavesBytesAboveAsciiAlone) {
    framer.SetStartString("\xE0");
    framer.SetStopString("!");
    framer.SetCaseInsensitive(true);
    Receive("C00121");
    EXPECT_TRUE(log.empty());
    Receive("E02121");
    EXPECT_EQ(log, (Log{"D:C00121", "P:"}));
}

TEST_F(FramerTest, AnEmptyStartStringStartsThePacketAtTheFirstByte) {
    framer.SetStopString("\r");
    framer.AddData("one\rtwo");
    EXPECT_EQ(log, (Log{"P:" + BytesToHex("one")}));
    EXPECT_TRUE(framer.InPacket());
    EXPECT_EQ(framer.Buffered(), "two");
}

TEST_F(FramerTest, CustomHandlersDecideWherePacketsStartAndEnd) {
    framer.SetIncludeStrings(true);
    framer.OnCustomStart = [](TComponent*, const std::string& s, int& pos) {
        pos = static_cast<int>(s.find('#') + 1);  // npos + 1 is 0: not yet
    };
    framer.OnCustomStop = [](TComponent*, const std::string& s, int& pos) {
        if (s.size() >= 3) pos = 3;
    };
    framer.AddData("ab#1");
    EXPECT_EQ(log, (Log{"D:" + BytesToHex("ab")}));
    framer.AddData("2#");
    EXPECT_EQ(log, (Log{"D:" + BytesToHex("ab"), "P:" + BytesToHex("#12")}));
    EXPECT_EQ(framer.Buffered(), "#");
}

TEST_F(FramerTest, ACustomStopBeyondTheBufferedBytesWaitsForMore) {
    framer.OnCustomStop = [](TComponent*, const std::string&, int& pos) { pos = 4; };
    framer.AddData("ab");
    EXPECT_TRUE(log.empty());
    framer.AddData("cdef");
    EXPECT_EQ(log, (Log{"P:" + BytesToHex("abcd")}));
}

TEST_F(FramerTest, AThrowingPacketHandlerStillLeavesTheBoundCheckDone) {
    UseProtocolSettings();
    framer.SetMaxBufferSize(4);
    framer.OnPacket = [](TComponent*, const std::string&) { throw std::runtime_error("handler"); };
    EXPECT_THROW(Receive("3E01213E020304"), std::runtime_error);
    EXPECT_EQ(log, (Log{"D:3E020304"}));
    EXPECT_TRUE(framer.Buffered().empty());
    EXPECT_FALSE(framer.InPacket());
}

TEST_F(FramerTest, EveryByteValueIsAnOrdinaryCharacter) {
    framer.SetStartString(std::string("\0", 1));
    framer.SetStopString("\xFF");
    framer.SetIncludeStrings(true);
    Receive("0100AA00FF");
    EXPECT_EQ(log, (Log{"D:01", "P:00AA00FF"}));
}

TEST_F(FramerTest, ArbitraryBytesNeverLeaveTheFramerInconsistent) {
    UseProtocolSettings();
    framer.SetMaxBufferSize(64);
    uint32_t seed = 12345;
    size_t delivered = 0;
    framer.OnPacket = [&](TComponent*, const std::string& s) {
        delivered += s.size();
        ASSERT_EQ(s.front(), '\x3E');
        ASSERT_EQ(s.back(), '\x21');
    };
    for (int round = 0; round < 2000; ++round) {
        std::string chunk;
        seed = seed * 1103515245u + 12345u;
        for (uint32_t n = seed >> 27; n > 0; --n) {
            seed = seed * 1103515245u + 12345u;
            chunk += static_cast<char>(seed >> 24);
        }
        framer.AddData(chunk);
        ASSERT_LT(framer.Buffered().size(), 64u);
    }
    EXPECT_GT(delivered, 0u);
}

class FramerBindingTest : public ::testing::Test {
protected:
    TComponent form;
};

TEST_F(FramerBindingTest, BindingRegistersADataLinkWithThePort) {
    auto* port = new TComPort(&form);
    auto* framer = new TComDataPacket(&form);
    framer->SetComPort(port);
    ASSERT_EQ(port->Links().size(), 1u);
    EXPECT_TRUE(port->HasDataLink());
    framer->SetComPort(nullptr);
    EXPECT_TRUE(port->Links().empty());
    EXPECT_FALSE(port->HasDataLink());
}

TEST_F(FramerBindingTest, ADestroyedPortIsDroppedByTheFramer) {
    auto* port = new TComPort(&form);
    auto* framer = new TComDataPacket(&form);
    framer->SetComPort(port);
    delete port;
    EXPECT_EQ(framer->ComPort(), nullptr);
}

TEST_F(FramerBindingTest, ADestroyedFramerUnregistersItsLink) {
    auto* port = new TComPort(&form);
    auto* framer = new TComDataPacket(&form);
    framer->SetComPort(port);
    delete framer;
    EXPECT_TRUE(port->Links().empty());
}

TEST_F(FramerBindingTest, StoredFormKeepsNonDefaultsAndThePortByName) {
    auto* port = new TComPort(&form);
    port->SetName("ComPort1");
    auto* framer = new TComDataPacket(&form);
    framer->SetName("ComDataPacket1");
    framer->SetComPort(port);
    framer->SetStartString(">");
    framer->SetStopString("!");
    framer->SetIncludeStrings(true);
    const std::string text = WriteComponent(form);
    EXPECT_EQ(text.find("MaxBufferSize"), std::string::npos);

    TComponent copy;
    auto* port2 = new TComPort(&copy);
    port2->SetName("ComPort1");
    auto* framer2 = new TComDataPacket(&copy);
    framer2->SetName("ComDataPacket1");
    ReadComponent(text, copy);
    EXPECT_EQ(framer2->ComPort(), port2);
    EXPECT_EQ(framer2->StartString(), ">");
    EXPECT_EQ(framer2->StopString(), "!");
    EXPECT_TRUE(framer2->IncludeStrings());
    EXPECT_EQ(framer2->MaxBufferSize(), 1024);
}

}  // namespace
}  // namespace wct
