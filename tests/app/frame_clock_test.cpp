// SPDX-License-Identifier: Apache-2.0
// The frame clock the main window's live views follow: every view draws once a frame, in
// the order it began to follow, and only when something asked for a frame; the measures
// grid and the trace draw in the same pass, and neither waits for the other.
#include "app/frame_clock.h"

#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/measures_panel.h"
#include "app/memo_hex.h"
#include "app/string_grid.h"
#include "protocol/wireless_protocol.h"

namespace wct {
namespace {

constexpr int kWaitMs = 30000;  // bounds a hang on a busy machine

// What must not happen is watched for a frame and a half.
void WatchAFrame() {
    QTest::qWait(TFrameClock::kFrameMs * 3 / 2);
}

TEST(FrameClockTest, FollowersDrawOnceAFrameInOrderAndOnlyWhenAsked) {
    TFrameClock clock;
    QObject first, second;
    std::vector<std::string> drawn;
    clock.Follow(&first, [&] { drawn.push_back("first"); });
    clock.Follow(&second, [&] { drawn.push_back("second"); });
    WatchAFrame();
    EXPECT_TRUE(drawn.empty());

    for (int i = 0; i < 3; ++i) clock.Request();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !drawn.empty(); }, kWaitMs));
    EXPECT_EQ(drawn, (std::vector<std::string>{"first", "second"}));
    WatchAFrame();
    EXPECT_EQ(drawn.size(), 2u);  // three requests, one frame
}

TEST(FrameClockTest, AViewGoneNoLongerDraws) {
    TFrameClock clock;
    QObject kept;
    auto gone = std::make_unique<QObject>();
    std::vector<std::string> drawn;
    clock.Follow(gone.get(), [&] { drawn.push_back("gone"); });
    clock.Follow(&kept, [&] { drawn.push_back("kept"); });
    gone.reset();
    clock.Request();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !drawn.empty(); }, kWaitMs));
    EXPECT_EQ(drawn, std::vector<std::string>{"kept"});
}

struct TRowCase {
    uint8_t id;
    uint16_t rpm;
    uint8_t heartRate;
    bool silent;
    const char* rpmText;  // as the grid shows it
    const char* speedText;
    const char* heartText;
};

// The measures grid and the trace memo on one clock: the grid's rows and the memo's lines
// reach the screen with the same frame, and clearing the trace loses no row.
TEST(FrameClockTest, TheMeasuresGridAndTheTraceDrawInOneFrameWhateverTheTraceDoes) {
    const TRowCase cases[] = {
        {0, 1000, 70, false, "1000", "8.5", "70"},
        {2, 2860, 67, false, "2860", "24.2", "67"},
        {3, 1500, 90, true, "", "", ""},  // silent: blank until it sends again
    };
    TFrameClock clock;
    TMiraWirelessProtocol protocol;
    TMeasuresPanel panel(protocol, clock);
    TMemoHEX memo;
    memo.FollowClock(clock);
    TStringGrid& grid = *panel.findChild<TStringGrid*>("GridDati");
    // Follows last, so it sees what the others drew in the same pass.
    std::vector<std::pair<QString, int>> frames;  // the first case's RPM cell, memo rows
    QObject probe;
    clock.Follow(&probe, [&] { frames.emplace_back(grid.Cell(1, 1), memo.RowsShown()); });

    TMiraWirelessConsoleMeasures table;
    table->resize(4);
    memo.Add("before the clear");
    for (const TRowCase& c : cases) {
        TMiraConsoleMeasure& m = (*table)[c.id];
        m.ConsoleID = c.id;
        m.Rpm = c.rpm;
        m.HeartRate = c.heartRate;
        m.Silent = c.silent;
        panel.Show(table, c.id);
    }
    memo.Clear();
    memo.Add("after the clear");
    EXPECT_EQ(grid.Cell(1, 1), "");  // drawn with the frame, not frame by frame

    ASSERT_TRUE(QTest::qWaitFor([&] { return !frames.empty(); }, kWaitMs));
    EXPECT_EQ(frames.front(), std::make_pair(QString("1000"), 1));
    for (const TRowCase& c : cases) {
        const int row = c.id + 1;
        EXPECT_EQ(grid.Cell(1, row), c.rpmText) << "console " << int(c.id);
        EXPECT_EQ(grid.Cell(2, row), c.speedText) << "console " << int(c.id);
        EXPECT_EQ(grid.Cell(3, row), c.heartText) << "console " << int(c.id);
    }
    EXPECT_EQ(memo.Lines(), QStringList{"after the clear"});
}

}  // namespace
}  // namespace wct
