// The live charts' samples: what is kept, how a series is cut down to the pixels shown,
// and the CSV text of what is shown.
#include "app/chart_samples.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wct {
namespace {

TChartSample At(int64_t ms, float speed, float power = NAN) {
    return {ms, {speed, 100, 80, power}};
}

std::vector<float> Values(const std::vector<TChartPoint>& points) {
    std::vector<float> values;
    for (const TChartPoint& p : points) values.push_back(p.value);
    return values;
}

TEST(ChartSamplesTest, EachConsoleKeepsTheSpanBeforeItsNewestSample) {
    TChartSamples samples(1000);
    samples.Add(1, At(0, 1));
    samples.Add(2, At(500, 2));
    samples.Add(1, At(1500, 3));  // console 1's first sample falls out; console 2's stays
    EXPECT_EQ(samples.Consoles(), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(Values(samples.Decimated(1, TChartQuantity::Speed, 0, 2000, 100)),
              std::vector<float>{3});
    EXPECT_EQ(samples.Newest(), 1500);
    samples.Add(2, At(1200, 4));
    samples.SetSpan(100);  // a shorter span drops at once
    EXPECT_EQ(Values(samples.Decimated(2, TChartQuantity::Speed, 0, 2000, 100)),
              std::vector<float>{4});
}

TEST(ChartSamplesTest, DecimationKeepsEachColumnsLowestAndHighestInTheirOrder) {
    TChartSamples samples(60000);
    // Column 0 (0..99 ms): 5, 9, 1, 7; column 1: one sample; column 2: none.
    for (auto [ms, v] : {std::pair{0, 5.f}, {10, 9.f}, {20, 1.f}, {30, 7.f}, {150, 4.f}})
        samples.Add(1, At(ms, v));
    samples.Add(1, At(400, 6));  // past the range asked for
    const std::vector<TChartPoint> points = samples.Decimated(1, TChartQuantity::Speed, 0, 299, 3);
    EXPECT_EQ(Values(points), (std::vector<float>{9, 1, 4}));
    EXPECT_EQ(points[0].ms, 10);
    EXPECT_EQ(points[1].ms, 20);
}

TEST(ChartSamplesTest, ALongSeriesComesDownToTwoPointsAColumnAndUnmeasuredValuesAreLeftOut) {
    TChartSamples samples(600000);
    for (int i = 0; i < 10000; ++i)
        samples.Add(3, At(i * 30, static_cast<float>(i % 17), i % 2 ? 200.f : NAN));
    EXPECT_LE(samples.Decimated(3, TChartQuantity::Speed, 0, 300000, 400).size(), 800u);
    for (const TChartPoint& p : samples.Decimated(3, TChartQuantity::Power, 0, 300000, 400))
        EXPECT_EQ(p.value, 200);
    EXPECT_TRUE(samples.Decimated(9, TChartQuantity::Speed, 0, 300000, 400).empty());
}

TEST(ChartSamplesTest, CsvHoldsTheShownConsolesSamplesInTimeOrder) {
    TChartSamples samples(60000);
    samples.Add(1, At(1000, 12.5f, 150));
    samples.Add(2, At(1500, 20));
    samples.Add(1, At(2250, 13));
    samples.Add(3, At(2000, 99));  // not shown
    samples.Add(1, At(9000, 14));  // after the time shown
    EXPECT_EQ(samples.Csv({1, 2}, 1000, 3000),
              "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w\n"
              "0.000,1,12.50,100,80,150\n"
              "0.500,2,20.00,100,80,\n"
              "1.250,1,13.00,100,80,\n");
}

}  // namespace
}  // namespace wct
