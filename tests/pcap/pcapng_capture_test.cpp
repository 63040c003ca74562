// SPDX-License-Identifier: Apache-2.0
// The pcapng writer read back block by block, and the dongle traffic cut into packets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "common/hex.h"
#include "common/pcapng_file.h"
#include "pcapng_reader.h"
#include "protocol/dongle_capture.h"

namespace wct {
namespace {

using test::ReadPcapng;
using test::TReadCapture;

class PcapngFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/wct_pcapng_XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path = name;
    }
    void TearDown() override { std::remove(path.c_str()); }
    std::string path;
};

TEST_F(PcapngFileTest, WritesTheSectionInterfacesAndPacketsWithTheirDirectionAndTime) {
    TPcapngFile file;
    file.Open(path, "wct 9.9");
    EXPECT_EQ(file.AddInterface(kLinkTypeDongle, "/dev/ttyUSB0", 115200), 0u);
    EXPECT_EQ(file.AddInterface(kLinkTypeWiredTrainer, "/dev/ttyS0", 9600), 1u);
    // Lengths 1, 6 and 7 exercise every padding.
    file.AddPacket(1, 1'700'000'000'123'456, TPacketDirection::pdInbound, "\x25");
    file.AddPacket(0, 1'700'000'000'123'999, TPacketDirection::pdOutbound,
                   HexToBytes("3E0A00000021"));
    file.AddPacket(0, 1'700'000'001'000'000, TPacketDirection::pdInbound,
                   HexToBytes("3E0A0001780021"));
    file.Close();
    ASSERT_EQ(file.Error(), "");

    const TReadCapture c = ReadPcapng(path);
    EXPECT_EQ(c.application, "wct 9.9");
    ASSERT_EQ(c.interfaces.size(), 2u);
    EXPECT_EQ(c.interfaces[0].linkType, 147);
    EXPECT_EQ(c.interfaces[0].name, "/dev/ttyUSB0");
    EXPECT_EQ(c.interfaces[0].speed, 115200u);
    EXPECT_EQ(c.interfaces[0].timeResolution, 6);
    EXPECT_EQ(c.interfaces[1].linkType, 148);
    EXPECT_EQ(c.interfaces[1].speed, 9600u);
    ASSERT_EQ(c.packets.size(), 3u);
    EXPECT_EQ(c.packets[0].interface, 1u);
    EXPECT_EQ(c.packets[0].micros, 1'700'000'000'123'456u);
    EXPECT_EQ(c.packets[0].flags, 1u);
    EXPECT_EQ(c.packets[0].bytes, "\x25");
    EXPECT_EQ(c.packets[1].flags, 2u);
    EXPECT_EQ(BytesToHex(c.packets[1].bytes), "3E0A00000021");
    EXPECT_EQ(BytesToHex(c.packets[2].bytes), "3E0A0001780021");
    EXPECT_EQ(c.packets[2].micros, 1'700'000'001'000'000u);
}

TEST_F(PcapngFileTest, AFileThatCannotBeCreatedIsRefusedWithItsNameAndReason) {
    TPcapngFile file;
    try {
        file.Open("/nonexistent/dir/x.pcapng", "wct");
        FAIL() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot write the capture /nonexistent/dir/x.pcapng: No such file or directory");
    }
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(PcapngFileTest, AWriteThatFailsEndsTheFileAndSaysWhy) {
    TPcapngFile file;
    // /dev/full takes the open and refuses every write: the header already fails.
    EXPECT_THROW(file.Open("/dev/full", "wct"), std::runtime_error);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Error(), "writing the capture /dev/full failed: No space left on device");
    // Nothing more is tried, nothing breaks.
    file.AddPacket(file.AddInterface(kLinkTypeDongle, "x", 0), 0, TPacketDirection::pdInbound,
                   "x");
    EXPECT_FALSE(file.IsOpen());
}

// Chunks as the port delivered them, and the packets expected from them, as hex.
struct TCutCase {
    const char* what;
    std::vector<const char*> chunks;
    std::vector<const char*> packets;  // after the last chunk
    const char* rest;                  // left when the stream ends
};

TEST(DongleFrameCutterTest, CutsTheStreamIntoTheFramesItCarriesWhateverTheChunks) {
    const TCutCase cases[] = {
        {"whole frames in one read", {"3E0A00017800213E0200000100"}, {"3E0A0001780021"},
         "3E02000001 00"},
        {"a frame in three reads", {"3E01", "0105025800", "5C10000021"},
         {"3E0101050258005C10000021"}, ""},
        {"noise before a frame is a packet of its own", {"FFEE3E0A0001780021"},
         {"FFEE", "3E0A0001780021"}, ""},
        {"a 0x21 inside goes by the length byte", {"3E01050500215C100000213E"},
         {"3E01050500215C10000021"}, "3E"},
        {"a wrong length byte is cut at the first 0x21, as the bench's framer cuts",
         {"3E0A000278002100000000000000"}, {"3E0A0002780021"}, "00000000000000"},
        {"a frame that never ends is written as far as it came", {"3E0A00"}, {}, "3E0A00"},
        {"noise with no frame after it waits for the end", {"0102"}, {}, "0102"},
    };
    for (const TCutCase& c : cases) {
        SCOPED_TRACE(c.what);
        TDongleFrameCutter cutter;
        std::vector<std::string> packets;
        for (const char* chunk : c.chunks)
            for (const std::string& p : cutter.Add(HexToBytes(chunk)))
                packets.push_back(BytesToHex(p));
        std::vector<std::string> expected(c.packets.begin(), c.packets.end());
        EXPECT_EQ(packets, expected);
        std::string rest = c.rest;
        std::erase(rest, ' ');
        EXPECT_EQ(BytesToHex(cutter.Rest()), rest);
        EXPECT_EQ(cutter.Rest(), "");
    }
}

TEST(DongleFrameCutterTest, AStreamWithoutAStopByteIsCutOnceItIsLongerThanAnyFrame) {
    TDongleFrameCutter cutter;
    const std::vector<std::string> packets = cutter.Add(std::string(300, '\x3E'));
    ASSERT_FALSE(packets.empty());
    size_t total = 0;
    for (const std::string& p : packets) total += p.size();
    EXPECT_EQ(total + cutter.Rest().size(), 300u);
}

TEST_F(PcapngFileTest, EachPortGetsOneInterfaceAndWritesAreOnePacketEach) {
    TPcapngFile file;
    file.Open(path, "wct");
    TDonglePackets packets(file);
    packets.SetPort({"/dev/ttyUSB0", 115200}, 10);
    packets.Add(10, TWireDirection::wdToDevice, HexToBytes("3E0A00000021"));
    packets.Add(11, TWireDirection::wdFromDevice, HexToBytes("3E0A00"));
    // The port changes mid-frame: what came is written on the old port's interface.
    packets.SetPort({"/dev/ttyUSB1", 115200}, 12);
    packets.Add(13, TWireDirection::wdToDevice, HexToBytes("3E0A0000"));  // hand-typed, short
    packets.SetPort({"/dev/ttyUSB0", 115200}, 14);
    packets.Add(15, TWireDirection::wdFromDevice, HexToBytes("3E0A0001780021"));
    file.Close();
    const TReadCapture c = ReadPcapng(path);
    ASSERT_EQ(c.interfaces.size(), 2u);
    EXPECT_EQ(c.interfaces[1].name, "/dev/ttyUSB1");
    ASSERT_EQ(c.packets.size(), 4u);
    const std::pair<uint32_t, const char*> expected[] = {
        {0, "3E0A00000021"}, {0, "3E0A00"}, {1, "3E0A0000"}, {0, "3E0A0001780021"}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(c.packets[i].interface, expected[i].first) << i;
        EXPECT_EQ(BytesToHex(c.packets[i].bytes), expected[i].second) << i;
    }
    EXPECT_EQ(c.packets[1].micros, 12u);
}

TEST_F(PcapngFileTest, ARecordingExportsAsPacketsTimedFromItsStart) {
    const std::vector<TWireChunk> recording = {
        {100, TWireDirection::wdToDevice, HexToBytes("3E0A00000021")},
        {900, TWireDirection::wdFromDevice, HexToBytes("3E0A00")},
        {950, TWireDirection::wdFromDevice, HexToBytes("01780021FF")},
    };
    TPcapngFile file;
    file.Open(path, "wct");
    ExportWireRecording(recording, 1'000'000, "session.rec", file);
    file.Close();
    const TReadCapture c = ReadPcapng(path);
    ASSERT_EQ(c.interfaces.size(), 1u);
    EXPECT_EQ(c.interfaces[0].name, "session.rec");
    EXPECT_EQ(c.interfaces[0].speed, 115200u);
    ASSERT_EQ(c.packets.size(), 3u);
    EXPECT_EQ(c.packets[0].micros, 1'000'100u);
    EXPECT_EQ(c.packets[0].flags, 2u);
    EXPECT_EQ(BytesToHex(c.packets[1].bytes), "3E0A0001780021");
    EXPECT_EQ(c.packets[1].micros, 1'000'950u);
    EXPECT_EQ(c.packets[1].flags, 1u);
    EXPECT_EQ(BytesToHex(c.packets[2].bytes), "FF");  // the noise after it, at the end
}

}  // namespace
}  // namespace wct
