// SPDX-License-Identifier: Apache-2.0
// When a console's measures stop being its own: the silence bound learnt from its own
// pace, and what a silence may add to the roll revolutions.
#include <gtest/gtest.h>

#include <string>

#include "protocol/console_tables.h"
#include "protocol/wireless_frame.h"

namespace wct {
namespace {

std::string Measures(uint8_t id, uint16_t rpm) {
    const char payload[] = {static_cast<char>(rpm >> 8), static_cast<char>(rpm & 0xFF), 120, 80, 0};
    return BuildFrame(mcMeasures, id, std::string_view(payload, sizeof payload));
}

// `count` frames of 600 rpm, `ms` apart, from tick 1000; the tick of the last one.
uint32_t Stream(const TMiraWirelessConsoleMeasures& table, int count, uint32_t ms) {
    uint32_t now = 1000;
    for (int i = 0; i < count; ++i, now += ms) DecodeMeasures(table, Measures(3, 600), rsStarted, now);
    return now - ms;
}

TEST(MeasuresFreshness, AConsoleIsSilentPastThreeOfItsIntervalsAndNeverSoonerThan2s) {
    const struct {
        uint32_t intervalMs;
        uint32_t bound;
    } cases[] = {{250, 2000}, {28, 2000}, {1000, 3000}, {1900, 5700}};
    for (const auto& c : cases) {
        TMiraWirelessConsoleMeasures table;
        const uint32_t last = Stream(table, 12, c.intervalMs);
        const TMiraConsoleMeasure& m = (*table)[3];
        EXPECT_EQ(SilenceAfterMs(m), c.bound) << c.intervalMs << " ms apart";
        EXPECT_FALSE(IsSilent(m, last + c.bound)) << c.intervalMs;
        EXPECT_TRUE(IsSilent(m, last + c.bound + 1)) << c.intervalMs;
    }
    EXPECT_FALSE(IsSilent(TMiraConsoleMeasure{}, 100000)) << "a console never heard is not silent";
}

TEST(MeasuresFreshness, OneLateFrameIsNoNewPace) {
    TMiraWirelessConsoleMeasures table;
    const uint32_t last = Stream(table, 12, 250);
    DecodeMeasures(table, Measures(3, 600), rsStarted, last + 1900);
    EXPECT_EQ(SilenceAfterMs((*table)[3]), 2000u);
}

TEST(MeasuresFreshness, ASilenceAddsAtMostTheBoundsWorthOfRevolutionsAndLeavesThePaceAlone) {
    TMiraWirelessConsoleMeasures table;
    const uint32_t last = Stream(table, 9, 250);  // 2 s at 600 rpm: 20 revolutions
    TMiraConsoleMeasure& m = (*table)[3];
    EXPECT_DOUBLE_EQ(m.Revolutions, 20);
    DecodeMeasures(table, Measures(3, 600), rsStarted, last + 8000);
    EXPECT_DOUBLE_EQ(m.Revolutions, 20 + 600 / 60000.0 * 2000) << "2 s of the 8 s gap, no more";
    EXPECT_EQ(m.IntervalMs, 250u);
    DecodeMeasures(table, Measures(3, 600), rsStarted, last + 8250);
    EXPECT_DOUBLE_EQ(m.Revolutions, 20 + 20 + 2.5);
}

}  // namespace
}  // namespace wct
