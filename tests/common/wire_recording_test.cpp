// SPDX-License-Identifier: Apache-2.0
// The text form of wire recordings: what is written reads back the same, and every way a
// recording can be broken is named with its line.
#include "common/wire_recording.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace wct {
namespace {

using namespace std::string_literals;

std::string Recording(const std::string& lines) {
    return std::string(kWireRecordingHeader) + "\n" + lines;
}

// The error's line and its message, for one broken recording.
std::pair<int, std::string> ErrorOf(const std::string& text) {
    try {
        ParseWireRecording(text);
    } catch (const EWireRecording& e) {
        return {e.Line(), e.what()};
    }
    return {-1, "no error"};
}

TEST(WireRecording, EveryByteValueSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::vector<TWireChunk> chunks = {
        {0, TWireDirection::wdToDevice, "\x3E\x0A"},
        {17, TWireDirection::wdFromDevice, all},
        {17, TWireDirection::wdFromDevice, std::string(1, '\0')},
        {18446744073709551615u, TWireDirection::wdToDevice, "!"}};
    std::string text = std::string(kWireRecordingHeader) + "\n";
    for (const TWireChunk& c : chunks) text += FormatWireChunk(c);
    const std::vector<TWireChunk> back = ParseWireRecording(text);
    ASSERT_EQ(back.size(), chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(back[i].micros, chunks[i].micros);
        EXPECT_EQ(back[i].direction, chunks[i].direction);
        EXPECT_EQ(back[i].bytes, chunks[i].bytes);
    }
}

TEST(WireRecording, ALineReadsAsTimeDirectionAndUppercaseHex) {
    EXPECT_EQ(FormatWireChunk({1234, TWireDirection::wdToDevice, "\x3E\x0a\x00\x00\x00\x21"s}),
              "1234 -> 3E0A00000021\n");
    EXPECT_EQ(FormatWireChunk({5, TWireDirection::wdFromDevice, "\xff"}), "5 <- FF\n");
}

TEST(WireRecording, CommentsBlankLinesCarriageReturnsAndLowercaseHexAreAccepted) {
    const auto chunks =
        ParseWireRecording(Recording("# port /dev/ttyUSB0\n\n10 -> 3e0a\r\n# done\n"));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].bytes, "\x3E\x0A");
}

TEST(WireRecording, BrokenRecordingsNameTheirLine) {
    EXPECT_EQ(ErrorOf("").first, 0);
    EXPECT_EQ(ErrorOf("hello\n").first, 1);
    EXPECT_EQ(ErrorOf(Recording("1 -> 3E\n2 -> 3E")),
              std::make_pair(3, std::string("line 3: truncated: the last line has no line end")));
    EXPECT_EQ(ErrorOf(Recording("1 -> 3E\n2 -> 3\n")).first, 3);
    EXPECT_EQ(ErrorOf(Recording("x -> 3E\n")).first, 2);
    EXPECT_EQ(ErrorOf(Recording("-1 -> 3E\n")).first, 2);
    EXPECT_EQ(ErrorOf(Recording("1 => 3E\n")).first, 2);
    EXPECT_EQ(ErrorOf(Recording("1 ->3E\n")).first, 2);
    EXPECT_EQ(ErrorOf(Recording("1 -> \n")).first, 2);
    EXPECT_EQ(ErrorOf(Recording("1 <- 3G\n")),
              std::make_pair(2, std::string("line 2: '3G' is not hex")));
    EXPECT_EQ(ErrorOf(Recording("1 -> 3E 21\n")).first, 2);
    EXPECT_EQ(ErrorOf(Recording("5 -> 3E\n4 <- 21\n")).first, 3);
}

TEST(WireRecording, AFileThatCannotBeReadIsNamed) {
    try {
        ReadWireRecording("/nonexistent/recording.txt");
        FAIL() << "no error";
    } catch (const EWireRecording& e) {
        EXPECT_EQ(e.Line(), 0);
        EXPECT_NE(std::string(e.what()).find("/nonexistent/recording.txt"), std::string::npos);
    }
}

TEST(WireRecording, AFileIsReadWhole) {
    char path[] = "/tmp/wct_recording_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream file(path, std::ios::binary);
        file << Recording("1 -> 3E0A00000021\n250 <- 3E0A0001780021\n");
    }
    const auto chunks = ReadWireRecording(path);
    std::remove(path);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].micros, 250u);
    EXPECT_EQ(chunks[1].direction, TWireDirection::wdFromDevice);
}

}  // namespace
}  // namespace wct
