// SPDX-License-Identifier: Apache-2.0
// The link report as text cells: what `wct stats` prints and the statistics view shows.
#include "protocol/link_report_table.h"

#include <gtest/gtest.h>

namespace wct {
namespace {

TEST(LinkReportTable, ARowGivesEveryFigureInItsColumnWithOneDecimal) {
    TMiraConsoleLinkStats c;
    c.console = 12;
    c.frames = 900;
    c.framesPerSecond = 89.96;
    c.expectedRate = 100;
    c.lost = 100;
    c.lostShare = 0.1;
    c.longestSilenceMs = 20.04;
    c.nacks = 3;
    c.unanswered = 1;
    c.latencies = {{0x0A, 4, 12.34, 15.05}, {0x13, 1, 2, 2}};
    const TLinkReportRow row = LinkReportRow(c);
    const TLinkReportRow expected = {
        "12",   "900",  "90.0", "100.0", "100",
        "10.0", "20.0", "3",    "1",     "0A:12.3/15.1/4,13:2.0/2.0/1"};
    EXPECT_EQ(row, expected);
    EXPECT_STREQ(kLinkReportColumns[5].key, "lost_pct");
}

TEST(LinkReportTable, AConsoleWithoutRepliesHasADashForLatency) {
    EXPECT_EQ(LinkReportRow({}).back(), "-");
}

TEST(LinkReportTable, TotalsAreMalformedFramesDiscardedBytesAndSeconds) {
    TMiraLinkReport report;
    report.malformedFrames = 2;
    report.discardedBytes = 17;
    report.seconds = 4.2424;
    const std::vector<TLinkReportTotal> totals = LinkReportTotals(report);
    ASSERT_EQ(totals.size(), 3u);
    EXPECT_STREQ(totals[0].name.key, "malformed_frames");
    EXPECT_EQ(totals[0].value, "2");
    EXPECT_STREQ(totals[1].name.key, "discarded_bytes");
    EXPECT_EQ(totals[1].value, "17");
    EXPECT_STREQ(totals[2].name.key, "seconds");
    EXPECT_EQ(totals[2].value, "4.242");
}

}  // namespace
}  // namespace wct
