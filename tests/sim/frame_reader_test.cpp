// SPDX-License-Identifier: Apache-2.0
#include "sim/frame_reader.h"

#include <gtest/gtest.h>

#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;

size_t DongleLength(std::string_view head) {
    return head.size() < 4 ? 0 : static_cast<uint8_t>(head[3]) + size_t{6};
}

class FrameReader : public ::testing::Test {
protected:
    std::vector<std::string> Feed(const std::string& bytes) {
        reader_.Feed(bytes);
        std::vector<std::string> frames;
        while (auto frame = reader_.Next(skipped_)) frames.push_back(*frame);
        return frames;
    }

    TFrameReader reader_{{0x3E, 0x21, &DongleLength}, 64};
    std::string skipped_;
};

const std::string kVersion = Bytes({0x3E, 0x0A, 0x00, 0x00, 0x00, 0x21});

TEST_F(FrameReader, FindsAFrameSplitAcrossFeeds) {
    EXPECT_TRUE(Feed(kVersion.substr(0, 2)).empty());
    EXPECT_TRUE(Feed(kVersion.substr(2, 3)).empty());
    EXPECT_EQ(Feed(kVersion.substr(5)), std::vector<std::string>{kVersion});
    EXPECT_EQ(skipped_, "");
}

TEST_F(FrameReader, SkipsGarbageAndReportsIt) {
    EXPECT_EQ(Feed(Bytes({0x01, 0x21}) + kVersion), std::vector<std::string>{kVersion});
    EXPECT_EQ(skipped_, Bytes({0x01, 0x21}));
}

TEST_F(FrameReader, GivesUpATruncatedFrameForTheCompleteOneAfterIt) {
    const std::string truncated = Bytes({0x3E, 0x0A, 0x00});
    EXPECT_EQ(Feed(truncated + kVersion), std::vector<std::string>{kVersion});
    EXPECT_EQ(skipped_, truncated);
}

TEST_F(FrameReader, RejectsAFrameWhoseLengthByteMissesTheStopByte) {
    const std::string wrongLength = Bytes({0x3E, 0x0A, 0x00, 0x01, 0x00, 0x21});
    EXPECT_TRUE(Feed(wrongLength).empty());
    EXPECT_EQ(Feed(kVersion), std::vector<std::string>{kVersion});
    EXPECT_EQ(skipped_, wrongLength);
}

TEST_F(FrameReader, DropsInputThatPilesUpBeyondItsLimit) {
    const std::string endless = Bytes({0x3E, 0x0A, 0x00, 0xFF});
    EXPECT_TRUE(Feed(endless + std::string(70, '\x00')).empty());
    EXPECT_EQ(skipped_.size(), 74u);
    EXPECT_EQ(Feed(kVersion), std::vector<std::string>{kVersion});
}

}  // namespace
}  // namespace wct::sim
