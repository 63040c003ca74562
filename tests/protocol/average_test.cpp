// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "protocol/mira_average.h"

namespace wct {
namespace {

TEST(MiraAverage, TheMeanDividesByTheWindowNotBySamplesAdded) {
    TMiraAverage avg;
    avg.SetLength(5);
    avg.Add(10);
    EXPECT_EQ(avg.Value(), 2.0L);
}

TEST(MiraAverage, NewestSampleComesFirstAndTheOldestDropsOut) {
    TMiraAverage avg;
    avg.SetLength(5);
    for (int v = 1; v <= 6; ++v) avg.Add(v);
    EXPECT_EQ(avg.Window(), (std::vector<double>{6, 5, 4, 3, 2}));
    EXPECT_EQ(avg.Value(), 4.0L);
    std::vector<std::string> lines{"stale"};
    avg.ToStrings(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"6", "5", "4", "3", "2"}));
}

TEST(MiraAverage, ShrinkingKeepsTheNewestAndNonPositiveLengthsChangeNothing) {
    TMiraAverage avg;
    avg.SetLength(5);
    for (int v = 1; v <= 5; ++v) avg.Add(v);
    avg.SetLength(3);
    EXPECT_EQ(avg.Window(), (std::vector<double>{5, 4, 3}));
    avg.SetLength(0);
    avg.SetLength(-2);
    EXPECT_EQ(avg.Length(), 3);
    avg.SetLength(4);
    EXPECT_EQ(avg.Window(), (std::vector<double>{5, 4, 3, 0}));
}

TEST(MiraAverage, TheSampleMeanCountsOnlyWhatWasPushedSinceTheLastClear) {
    TMiraAverage avg;
    avg.SetLength(5);
    EXPECT_EQ(avg.SampleMean(), 0.0L);
    avg.Add(120);
    EXPECT_EQ(avg.SampleMean(), 120.0L);
    EXPECT_EQ(avg.Value(), 24.0L) << "the window's own mean is unchanged";
    for (int v : {130, 140, 150, 160, 170}) avg.Add(v);
    EXPECT_EQ(avg.SampleMean(), 150.0L);  // the last five
    avg.SetLength(8);
    EXPECT_EQ(avg.SampleMean(), 150.0L) << "new slots hold no samples";
    avg.Clear();
    EXPECT_EQ(avg.Window(), std::vector<double>(8, 0.0));
    EXPECT_EQ(avg.SampleMean(), 0.0L);
    avg.Add(60);
    EXPECT_EQ(avg.SampleMean(), 60.0L);
}

TEST(MiraAverage, AnEmptyWindowStaysEmptyWithMeanZero) {
    TMiraAverage avg;
    avg.Add(7);
    EXPECT_EQ(avg.Length(), 0);
    EXPECT_EQ(avg.Value(), 0.0L);
    TMiraAverage one;
    one.SetLength(1);
    one.Add(3);
    one.Add(8);
    EXPECT_EQ(one.Value(), 8.0L);
}

}  // namespace
}  // namespace wct
