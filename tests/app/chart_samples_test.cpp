// SPDX-License-Identifier: Apache-2.0
// The live charts' samples: what is kept, how a series is cut down to the pixels shown,
// where a silent console's line breaks, and the CSV text of what is shown.
#include "app/chart_samples.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wct {
namespace {

constexpr int64_t kSilence = 2000;  // the consoles' silence bound in these cases

TChartSample At(int64_t ms, float speed, float power = NAN) {
    return {ms, {speed, 100, 80, power}};
}

std::vector<float> Values(const TChartRun& points) {
    std::vector<float> values;
    for (const TChartPoint& p : points) values.push_back(p.value);
    return values;
}

std::vector<int64_t> Times(const TChartRun& points) {
    std::vector<int64_t> times;
    for (const TChartPoint& p : points) times.push_back(p.ms);
    return times;
}

// Every run's values, one after the other: what a drawing without gaps would join.
std::vector<float> Values(const std::vector<TChartRun>& runs) {
    std::vector<float> values;
    for (const TChartRun& run : runs)
        for (float v : Values(run)) values.push_back(v);
    return values;
}

TEST(ChartSamplesTest, EachConsoleKeepsTheSpanBeforeItsNewestSample) {
    TChartSamples samples(1000);
    samples.Add(1, At(0, 1), kSilence);
    samples.Add(2, At(500, 2), kSilence);
    samples.Add(1, At(1500, 3), kSilence);  // console 1's first sample falls out; 2's stays
    EXPECT_EQ(samples.Consoles(), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(Values(samples.Decimated(1, TChartQuantity::Speed, 0, 2000, 100)),
              std::vector<float>{3});
    EXPECT_EQ(samples.Newest(), 1500);
    samples.Add(2, At(1200, 4), kSilence);
    samples.SetSpan(100);  // a shorter span drops at once
    EXPECT_EQ(Values(samples.Decimated(2, TChartQuantity::Speed, 0, 2000, 100)),
              std::vector<float>{4});
}

TEST(ChartSamplesTest, DecimationKeepsEachColumnsLowestAndHighestInTheirOrder) {
    TChartSamples samples(60000);
    // Column 0 (0..99 ms): 5, 9, 1, 7; column 1: one sample; column 2: none.
    for (auto [ms, v] : {std::pair{0, 5.f}, {10, 9.f}, {20, 1.f}, {30, 7.f}, {150, 4.f}})
        samples.Add(1, At(ms, v), kSilence);
    samples.Add(1, At(400, 6), kSilence);  // past the range asked for
    const std::vector<TChartRun> runs = samples.Decimated(1, TChartQuantity::Speed, 0, 299, 3);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(Values(runs[0]), (std::vector<float>{9, 1, 4}));
    EXPECT_EQ(Times(runs[0]), (std::vector<int64_t>{10, 20, 150}));
}

TEST(ChartSamplesTest, ALongSeriesComesDownToTwoPointsAColumnAndUnmeasuredValuesAreLeftOut) {
    TChartSamples samples(600000);
    for (int i = 0; i < 10000; ++i)
        samples.Add(3, At(i * 30, static_cast<float>(i % 17), i % 2 ? 200.f : NAN), kSilence);
    EXPECT_LE(Values(samples.Decimated(3, TChartQuantity::Speed, 0, 300000, 400)).size(), 800u);
    const std::vector<TChartRun> power =
        samples.Decimated(3, TChartQuantity::Power, 0, 300000, 400);
    EXPECT_EQ(power.size(), 1u) << "an unmeasured value is no silence";
    for (float p : Values(power)) EXPECT_EQ(p, 200);
    EXPECT_TRUE(samples.Decimated(9, TChartQuantity::Speed, 0, 300000, 400).empty());
}

// A console streams every 250 ms from 0 to 2000 ms, then from `back` on: where the line
// breaks, at fine and at coarse columns.
TEST(ChartSamplesTest, ALineBreaksWhereTheConsoleWasSilentLongerThanItsBound) {
    const struct {
        int64_t back;  // the first sample after the pause
        int columns;   // over 0 .. 20000 ms
        size_t runs;   // drawn
        const char* why;
    } cases[] = {
        {2000 + kSilence, 400, 1, "a pause of the bound is no silence"},
        {2000 + kSilence + 1, 400, 2, "a millisecond more is"},
        {12000, 400, 2, "a long silence"},
        {12000, 1, 2, "one column for all: still two runs, each its own low and high"},
    };
    for (const auto& c : cases) {
        TChartSamples samples(60000);
        for (int64_t ms = 0; ms <= 2000; ms += 250)
            samples.Add(1, At(ms, 10 + ms / 250.f), kSilence);
        for (int64_t ms = c.back; ms <= c.back + 1000; ms += 250)
            samples.Add(1, At(ms, 30 + (ms - c.back) / 250.f), kSilence);
        const std::vector<TChartRun> runs =
            samples.Decimated(1, TChartQuantity::Speed, 0, 20000, c.columns);
        ASSERT_EQ(runs.size(), c.runs) << c.why;
        EXPECT_EQ(runs.front().front().ms, 0) << c.why;
        EXPECT_EQ(runs.back().back().ms, c.back + 1000) << c.why;
        if (c.runs == 2) {
            EXPECT_EQ(runs[0].back().ms, 2000) << c.why;     // the line ends at the last heard
            EXPECT_EQ(runs[1].front().ms, c.back) << c.why;  // and starts again at the next
        }
    }
}

TEST(ChartSamplesTest, ASilenceIsForgottenWithTheSamplesAroundIt) {
    TChartSamples samples(5000);
    samples.Add(1, At(0, 10), kSilence);
    samples.Add(1, At(4000, 20), kSilence);  // after a silence
    samples.Add(1, At(4500, 30), kSilence);
    EXPECT_EQ(samples.Decimated(1, TChartQuantity::Speed, 0, 9000, 100).size(), 2u);
    // The sample before the silence falls out; the one after it begins what is left.
    samples.Add(1, At(8500, 40), kSilence);  // a silence again: 4 s, past the bound
    const std::vector<TChartRun> runs = samples.Decimated(1, TChartQuantity::Speed, 0, 9000, 100);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(Values(runs[0]), (std::vector<float>{20, 30}));
    EXPECT_EQ(Values(runs[1]), (std::vector<float>{40}));
    // A range that starts inside a run draws it from there.
    EXPECT_EQ(samples.Decimated(1, TChartQuantity::Speed, 4200, 9000, 100).size(), 2u);
    EXPECT_EQ(samples.Decimated(1, TChartQuantity::Speed, 8000, 9000, 100).size(), 1u);
}

TEST(ChartSamplesTest, CsvHoldsTheShownConsolesSamplesInTimeOrder) {
    TChartSamples samples(60000);
    samples.Add(1, At(1000, 12.5f, 150), kSilence);
    samples.Add(2, At(1500, 20), kSilence);
    samples.Add(1, At(2250, 13), kSilence);
    samples.Add(3, At(2000, 99), kSilence);  // not shown
    samples.Add(1, At(9000, 14), kSilence);  // after the time shown
    EXPECT_EQ(samples.Csv({1, 2}, 1000, 3000),
              "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w\n"
              "0.000,1,12.50,100,80,150\n"
              "0.500,2,20.00,100,80,\n"
              "1.250,1,13.00,100,80,\n");
}

TEST(ChartSamplesTest, CsvMarksWhereAConsoleFellSilentWithARowOfNoValues) {
    TChartSamples samples(60000);
    samples.Add(1, At(1000, 12), kSilence);
    samples.Add(1, At(1250, 13), kSilence);
    samples.Add(1, At(8000, 14), kSilence);  // back after a silence from 3250
    samples.Add(2, At(1500, 20), kSilence);  // and silent from 3500 to the end
    EXPECT_EQ(samples.Csv({1, 2}, 1000, 9000),
              "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w\n"
              "0.000,1,12.00,100,80,\n"
              "0.250,1,13.00,100,80,\n"
              "0.500,2,20.00,100,80,\n"
              "2.250,1,,,,\n"
              "2.500,2,,,,\n"
              "7.000,1,14.00,100,80,\n");
    // Shown up to before console 2's bound ran out, it was not silent yet.
    EXPECT_EQ(samples.Csv({2}, 1000, 3500),
              "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w\n"
              "0.500,2,20.00,100,80,\n");
}

TEST(ChartClockTest, TheTickCountersWrapIsNoJumpBack) {
    TChartClock clock;
    EXPECT_EQ(clock.Read(4294967000u), 4294967000);
    EXPECT_EQ(clock.Read(4294967295u), 4294967295);
    EXPECT_EQ(clock.Read(704), 4294968000) << "past the wrap";
    EXPECT_EQ(clock.Read(700), 4294967996) << "a tick read a little late steps back";
    EXPECT_EQ(clock.Read(5704), 4294973000);
}

}  // namespace
}  // namespace wct
