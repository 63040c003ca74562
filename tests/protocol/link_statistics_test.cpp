// SPDX-License-Identifier: Apache-2.0
// Link statistics fed with frames at chosen times: what each figure counts.
#include "protocol/link_statistics.h"

#include <gtest/gtest.h>

#include "protocol/wireless_frame.h"

namespace wct {
namespace {

std::string Measures(uint8_t console) {
    return BuildFrame(mcMeasures, console, std::string("\x0B\xB8\x50\x5A\x00", 5));
}

std::string Answer(uint8_t code, uint8_t console, uint8_t command) {
    return BuildFrame(code, console, std::string(1, static_cast<char>(command)));
}

class LinkStatisticsTest : public ::testing::Test {
protected:
    LinkStatisticsTest() { stats.Clear(kStart); }

    static const TMiraConsoleLinkStats* Find(const TMiraLinkReport& report, uint8_t id) {
        for (const TMiraConsoleLinkStats& c : report.consoles)
            if (c.console == id) return &c;
        return nullptr;
    }
    const TMiraConsoleLinkStats& Console(const TMiraLinkReport& report, uint8_t id) {
        if (const TMiraConsoleLinkStats* c = Find(report, id)) return *c;
        static const TMiraConsoleLinkStats none;
        ADD_FAILURE() << "console " << int(id) << " not in the report";
        return none;
    }

    // Near the wrap of the tick counter, so that every difference must be taken modulo 2^32.
    static constexpr uint32_t kStart = 0xFFFFF000u;
    TMiraLinkStatistics stats;
};

TEST_F(LinkStatisticsTest, EveryTenthFrameMissingIsTenPercentLost) {
    uint32_t t = kStart;
    for (int i = 0; i < 1000; ++i, t += 10)
        if (i % 10 != 3) stats.FrameReceived(Measures(2), t);
    const TMiraConsoleLinkStats c = Console(stats.Report(t, 15000), 2);
    EXPECT_EQ(c.frames, 900u);
    EXPECT_EQ(c.lost, 100u);
    EXPECT_NEAR(c.lostShare, 0.1, 1e-9);
    EXPECT_NEAR(c.expectedRate, 100, 1e-9);
    EXPECT_NEAR(c.framesPerSecond, 899.0 / 9.99, 1e-6);
    EXPECT_EQ(c.longestSilenceMs, 20);
}

TEST_F(LinkStatisticsTest, FramesBunchedByLateReadsAreNotCountedLost) {
    // Delivery in bursts (several frames in one read) skews the gaps, not the count.
    for (int i = 0; i < 100; ++i)
        stats.FrameReceived(Measures(1), kStart + 10 * i + (i % 3 == 1 ? 9 : 0));
    EXPECT_EQ(Console(stats.Report(kStart + 990, 15000), 1).lost, 0u);
}

TEST_F(LinkStatisticsTest, FramesReadTogetherDoNotHideTheRate) {
    // A late host reads three frames at once, when the third is due: they share one tick.
    for (int i = 0; i <= 90; ++i)
        if (i % 10 != 5) stats.FrameReceived(Measures(1), kStart + 10 * (i - i % 3 + 2));
    const TMiraConsoleLinkStats c = Console(stats.Report(kStart + 920, 15000), 1);
    EXPECT_NEAR(c.expectedRate, 100.0 / 3, 1e-9);  // what the arrivals show
    stats.SetExpectedRate(100);                    // what the consoles are known to do
    EXPECT_EQ(Console(stats.Report(kStart + 920, 15000), 1).lost, 9u);
}

TEST_F(LinkStatisticsTest, ASetRateOutlivesClear) {
    stats.SetExpectedRate(4);
    stats.Clear(kStart + 100);
    stats.FrameReceived(Measures(1), kStart + 100);
    stats.FrameReceived(Measures(1), kStart + 1100);
    const TMiraConsoleLinkStats c = Console(stats.Report(kStart + 1100, 15000), 1);
    EXPECT_EQ(c.expectedRate, 4);
    EXPECT_EQ(c.lost, 3u);
    EXPECT_NEAR(c.lostShare, 0.6, 1e-9);
}

TEST_F(LinkStatisticsTest, TheLongestSilenceRunsOnToTheReport) {
    stats.FrameReceived(Measures(1), kStart + 100);
    stats.FrameReceived(Measures(1), kStart + 350);
    EXPECT_EQ(Console(stats.Report(kStart + 500, 15000), 1).longestSilenceMs, 250);
    EXPECT_EQ(Console(stats.Report(kStart + 2350, 15000), 1).longestSilenceMs, 2000);
}

TEST_F(LinkStatisticsTest, LatencyIsTimedFromRequestToItsOwnAnswer) {
    for (uint32_t i = 0; i < 100; ++i) {
        const uint32_t sent = kStart + 1000 * i;
        stats.FrameSent(BuildFrame(mcVersion, 3), sent);
        stats.FrameSent(BuildFrame(mcTestKeys, 3), sent);
        // Another console's version answer and a measures frame answer nothing of console 3.
        stats.FrameReceived(Answer(mcVersion, 4, 0x10), sent + 1);
        stats.FrameReceived(Measures(3), sent + 2);
        stats.FrameReceived(Answer(mcVersion, 3, 0x10), sent + 40 + (i == 99 ? 200 : i % 5));
        stats.FrameReceived(Answer(mcAck, 3, mcTestKeys), sent + 60);
    }
    const TMiraConsoleLinkStats c = Console(stats.Report(kStart + 100000, 15000), 3);
    ASSERT_EQ(c.latencies.size(), 2u);
    EXPECT_EQ(c.latencies[0].command, mcVersion);
    EXPECT_EQ(c.latencies[0].replies, 100u);
    EXPECT_EQ(c.latencies[0].medianMs, 42);
    EXPECT_EQ(c.latencies[0].p99Ms, 44);
    EXPECT_EQ(c.latencies[1].command, mcTestKeys);
    EXPECT_EQ(c.latencies[1].medianMs, 60);
    EXPECT_EQ(c.unanswered, 0u);
    EXPECT_EQ(Find(stats.Report(kStart + 100000, 15000), 4), nullptr);
}

TEST_F(LinkStatisticsTest, ASlowSteadyConsoleKeepsItsExactRate) {
    // One frame a second for an hour: a period read 1 % short would count 36 lost.
    uint32_t t = kStart;
    for (int i = 0; i < 3600; ++i, t += 1000) stats.FrameReceived(Measures(5), t);
    const TMiraConsoleLinkStats c = Console(stats.Report(t, 15000), 5);
    EXPECT_DOUBLE_EQ(c.expectedRate, 1.0);
    EXPECT_EQ(c.lost, 0u);
    EXPECT_EQ(c.longestSilenceMs, 1000);
}

TEST_F(LinkStatisticsTest, LongLatenciesThatVaryAreGivenWithinASixteenth) {
    // Answers after 1000 to 1999 ms, evenly: median 1500, p99 1990.
    for (uint32_t i = 0; i < 1000; ++i) {
        const uint32_t sent = kStart + 5000 * i;
        stats.FrameSent(BuildFrame(mcSerialNumber, 1), sent);
        stats.FrameReceived(Answer(mcSerialNumber, 1, 0), sent + 1000 + (i * 7) % 1000);
    }
    const TMiraConsoleLinkStats c = Console(stats.Report(kStart + 5000 * 1000, 15000), 1);
    ASSERT_EQ(c.latencies.size(), 1u);
    EXPECT_EQ(c.latencies[0].replies, 1000u);
    EXPECT_NEAR(c.latencies[0].medianMs, 1500, 1500 / 16.0);
    EXPECT_NEAR(c.latencies[0].p99Ms, 1990, 1990 / 16.0);
}

TEST_F(LinkStatisticsTest, NacksAreCountedPerConsoleAndEndTheirRequest) {
    stats.FrameSent(BuildFrame(mcTestCardio, 2), kStart);
    stats.FrameReceived(Answer(mcNAck, 2, mcTestCardio), kStart + 30);
    stats.FrameReceived(Answer(mcNAck, 2, mcReadValue), kStart + 40);
    const TMiraLinkReport report = stats.Report(kStart + 60000, 15000);
    EXPECT_EQ(Console(report, 2).nacks, 2u);
    EXPECT_EQ(Console(report, 2).unanswered, 0u);
    ASSERT_EQ(Console(report, 2).latencies.size(), 1u);
    EXPECT_EQ(Console(report, 2).latencies[0].medianMs, 30);
}

TEST_F(LinkStatisticsTest, UnansweredRequestsAreThoseAskedAgainGivenUpOrTooOld) {
    stats.FrameSent(BuildFrame(mcSerialNumber, 1), kStart);
    stats.FrameSent(BuildFrame(mcSerialNumber, 1), kStart + 500);  // the first one: unanswered
    stats.FrameReceived(Answer(mcSerialNumber, 1, 0), kStart + 520);
    stats.FrameSent(BuildFrame(mcTestSignals, 1), kStart + 1000);
    stats.RequestTimedOut(mcTestSignals, 1);
    stats.FrameSent(BuildFrame(mcReadValue, 1), kStart + 2000);
    EXPECT_EQ(Console(stats.Report(kStart + 3000, 15000), 1).unanswered, 2u);
    EXPECT_EQ(Console(stats.Report(kStart + 17001, 15000), 1).unanswered, 3u);
    // Commands without an answer are never waited for.
    stats.FrameSent(BuildFrame(mcMeasure, 0, std::string(1, '\x01')), kStart);
    EXPECT_EQ(Find(stats.Report(kStart + 60000, 15000), 0), nullptr);
}

TEST_F(LinkStatisticsTest, RegistrationAndConsoleCountAreAnsweredByTheDongle) {
    stats.FrameSent(BuildFrame(mcNumberOfConsoles, 0), kStart);
    stats.FrameReceived(BuildFrame(mcNumberOfConsoles, 0x55, std::string(1, '\x03')), kStart + 7);
    ASSERT_EQ(Console(stats.Report(kStart + 10, 15000), 0).latencies.size(), 1u);
    EXPECT_EQ(Console(stats.Report(kStart + 10, 15000), 0).latencies[0].medianMs, 7);
}

TEST_F(LinkStatisticsTest, ShortMeasuresAndInvalidPacketsAreMalformedAndClearStartsAfresh) {
    stats.FrameReceived(BuildFrame(mcMeasures, 1, std::string(4, '\x01')), kStart);
    stats.MalformedFrame();
    stats.BytesDiscarded(7);
    TMiraLinkReport report = stats.Report(kStart + 1500, 15000);
    EXPECT_EQ(report.malformedFrames, 2u);
    EXPECT_EQ(report.discardedBytes, 7u);
    EXPECT_DOUBLE_EQ(report.seconds, 1.5);
    EXPECT_EQ(Find(report, 1), nullptr);
    stats.Clear(kStart + 2000);
    report = stats.Report(kStart + 2000, 15000);
    EXPECT_EQ(report.malformedFrames, 0u);
    EXPECT_TRUE(report.consoles.empty());
}

}  // namespace
}  // namespace wct
