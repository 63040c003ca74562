// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "common/delay_with_messages.h"
#include "common/emnox.h"
#include "common/main_thread.h"
#include "common/round_decimals.h"
#include "common/string_fields.h"
#include "common/tick_count.h"

namespace wct {
namespace {

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbourAndValuesBeyondInt32Saturate) {
    EXPECT_EQ(RoundHalfEven(2.5L), 2);
    EXPECT_EQ(RoundHalfEven(3.5L), 4);
    EXPECT_EQ(RoundHalfEven(-2.5L), -2);
    EXPECT_EQ(RoundHalfEven(1e12L), INT32_MAX);
    EXPECT_EQ(RoundHalfEven(-1e12L), INT32_MIN);
    EXPECT_EQ(RoundHalfEven(std::nanl("")), 0);
}

TEST(RoundDecimals, HalvesGoAwayFromZeroForBothSigns) {
    EXPECT_DOUBLE_EQ(double(RoundDecimals(0, 2.5L)), 3.0);
    EXPECT_DOUBLE_EQ(double(RoundDecimals(0, -2.5L)), -3.0);
    EXPECT_DOUBLE_EQ(double(RoundDecimals(1, 0.25L)), 0.3);
    EXPECT_DOUBLE_EQ(double(RoundDecimals(1, -0.25L)), -0.3);
    EXPECT_DOUBLE_EQ(double(RoundDecimals(2, 1.004L)), 1.0);
    EXPECT_DOUBLE_EQ(double(RoundDecimals(0, 1234.4999L)), 1234.0);
}

TEST(RoundDecimals, ResultsWithinTinyDistanceOfZeroAreExactlyZero) {
    EXPECT_EQ(RoundDecimals(9, 1e-10L), 0.0L);
    EXPECT_EQ(RoundDecimals(9, 1e-8L), 0.0L);  // the edge itself
    EXPECT_EQ(RoundDecimals(9, -1e-8L), 0.0L);
    EXPECT_EQ(RoundDecimals(9, 2e-8L), 2e-8L);
    EXPECT_FALSE(std::signbit(double(RoundDecimals(2, -0.001L))));
    EXPECT_EQ(RoundDecimals(2, -0.001L), 0.0L);
}

TEST(RoundDecimals, NegativeDecimalsRoundToTens) {
    EXPECT_DOUBLE_EQ(double(RoundDecimals(-1, 125.0L)), 130.0);
}

TEST(StringFields, FieldsAreCountedFromZeroAndMissingOnesAreEmpty) {
    EXPECT_EQ(GetField("10\t20\t30", '\t', 0), "10");
    EXPECT_EQ(GetField("10\t20\t30", '\t', 2), "30");
    EXPECT_EQ(GetField("10\t20\t30", '\t', 3), "");
    EXPECT_EQ(GetField("10\t\t30", '\t', 1), "");
    EXPECT_EQ(GetField("abc", '\t', -1), "");
}

TEST(StringFields, AnEmptyTextHasNoFieldsAndOneWithoutSeparatorHasOne) {
    EXPECT_EQ(FieldCount("", '\t'), 0);
    EXPECT_EQ(FieldCount("abc", '\t'), 1);
    EXPECT_EQ(FieldCount("a\tb\t", '\t'), 3);
}

TEST(EMNox, MessageIsTableTextCodeAndDetail) {
    EMNox e(4, "line 3");
    EXPECT_EQ(e.ErrorCode(), 4);
    EXPECT_STREQ(e.what(), "Error while reading the resistance map (Error code: 4)\r\nline 3");
    EXPECT_STREQ(EMNox(0, "").what(),
                 "One or more competitor(s) not ready to start (Error code: 0)\r\n");
    EXPECT_EQ(EMNox::CodeText(6), "");
}

TEST(TickCounter, VirtualClockReplacesTheSystemTicksWhileInstalled) {
    uint32_t start;
    {
        TScopedVirtualClock clock(500);
        EXPECT_EQ(GetTickCount(), 500u);
        clock.Advance(250);
        EXPECT_EQ(GetTickCount(), 750u);
        start = GetTickCount();
    }
    EXPECT_NE(GetTickCount(), start);  // monotonic source is back
}

TEST(DelayWithMessages, WaitsTheGivenTickTimeWhileServingTheMainThread) {
    TScopedVirtualClock clock(1000, 5);
    int served = 0;
    MainThread().Post([&] { ++served; });
    DelayWithMessages(100);
    EXPECT_EQ(GetTickCount(), 1100u);  // not one idle turn past the time
    EXPECT_EQ(served, 1);
}

TEST(DelayWithMessages, EndsWhenTheTickCounterWraps) {
    TScopedVirtualClock clock(0xFFFFFFF0u, 0x20);
    DelayWithMessages(60000);
    EXPECT_LT(GetTickCount(), 0x100u);
}

TEST(MainThread, RunAndWaitRunsOnTheMainThreadAndRethrowsThere) {
    std::thread::id ranOn;
    std::string caught;
    TWorkerThread worker;
    worker.Start([&] {
        MainThread().RunAndWait([&] { ranOn = std::this_thread::get_id(); });
        try {
            MainThread().RunAndWait([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    worker.Join();  // serves both hand-offs while waiting
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(caught, "handler failed");
}

TEST(MainThread, JoiningAWorkerBlockedInAHandOffDoesNotDeadlock) {
    std::atomic<bool> stop{false};
    int ticks = 0;
    TWorkerThread worker;
    worker.Start([&] {
        while (!stop) MainThread().RunAndWait([&] { ++ticks; });
    });
    while (ticks < 3) MainThread().ProcessMessages();
    stop = true;
    worker.Join();
    EXPECT_FALSE(worker.Running());
}

TEST(MainThread, PostedWorkRunsLaterAndOnlyOnce) {
    int runs = 0;
    MainThread().Post([&] {
        ++runs;
        MainThread().Post([&] { ++runs; });  // queued by the work: waits for the next call
    });
    MainThread().ProcessMessages();
    EXPECT_EQ(runs, 1);
    MainThread().ProcessMessages();
    EXPECT_EQ(runs, 2);
}

TEST(MainThread, ALongWaitForMessagesEndsWhenAHandOffArrives) {
    int runs = 0;
    TWorkerThread worker;
    worker.Start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        MainThread().RunAndWait([&] { ++runs; });
    });
    const auto before = std::chrono::steady_clock::now();
    MainThread().ProcessMessagesFor(60000);
    EXPECT_EQ(runs, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    worker.Join();
}

TEST(MainThread, IdleProcessingMovesTheVirtualClockByItsStep) {
    TScopedVirtualClock clock(0, 7);
    MainThread().ProcessMessages();
    EXPECT_EQ(GetTickCount(), 7u);
}

}  // namespace
}  // namespace wct
