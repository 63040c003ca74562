// SPDX-License-Identifier: Apache-2.0
#include "common/threaded_timer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "common/nox_timer.h"
#include "common/tick_count.h"

namespace wct {
namespace {

// Timers run in virtual time: each idle turn of the main thread moves the clock 10 ms.
class ThreadedTimerTest : public ::testing::Test {
protected:
    TScopedVirtualClock clock{100000, 10};
    std::vector<uint32_t> ticks;

    void Record(TThreadedTimer& timer) {
        timer.OnTimer = [this](TComponent*) { ticks.push_back(GetTickCount()); };
    }
    // Serves the main thread until `count` ticks arrived or `ms` of virtual time passed.
    void PumpUntilTicks(size_t count, uint32_t ms) {
        const uint32_t start = GetTickCount();
        while (ticks.size() < count && GetTickCount() - start < ms) MainThread().ProcessMessages();
    }
    void PumpFor(uint32_t ms) { PumpUntilTicks(SIZE_MAX, ms); }
};

TEST_F(ThreadedTimerTest, FirstTickComesOneIntervalAfterEnabling) {
    TThreadedTimer timer;
    Record(timer);
    const uint32_t enabledAt = GetTickCount();
    timer.SetEnabled(true);
    PumpUntilTicks(1, 5000);
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_GE(ticks[0] - enabledAt, 1000u);
    EXPECT_LT(ticks[0] - enabledAt, 1300u);
}

TEST_F(ThreadedTimerTest, TicksKeepTheirPaceAndStopWhenDisabled) {
    TThreadedTimer timer;
    timer.SetInterval(200);
    Record(timer);
    timer.SetEnabled(true);
    PumpUntilTicks(3, 5000);
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_GE(ticks[2] - ticks[1], 200u);
    timer.SetEnabled(false);
    PumpFor(2000);
    EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(ThreadedTimerTest, ZeroIntervalGivesNoTickUnlessZeroIsAllowed) {
    TThreadedTimer timer;
    timer.SetInterval(0);
    Record(timer);
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Enabled());
    PumpFor(3000);
    EXPECT_TRUE(ticks.empty());

    TThreadedTimer continuous;
    continuous.SetAllowZero(true);
    continuous.SetInterval(0);
    Record(continuous);
    continuous.SetEnabled(true);
    for (int i = 0; i < 2000 && ticks.size() < 20; ++i) MainThread().ProcessMessages();
    EXPECT_GE(ticks.size(), 20u);
}

TEST_F(ThreadedTimerTest, ChangingTheIntervalRestartsThePeriodAndTheSameValueDoesNot) {
    TThreadedTimer timer;
    Record(timer);
    timer.SetEnabled(true);
    PumpFor(600);
    timer.SetInterval(1000);  // same value: the period goes on
    const uint32_t changedAt = GetTickCount();
    PumpUntilTicks(1, 3000);
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_LT(ticks[0] - changedAt, 1000u);

    PumpFor(500);
    const uint32_t restartedAt = GetTickCount();
    timer.SetInterval(800);
    PumpUntilTicks(2, 3000);
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_GE(ticks[1] - restartedAt, 800u);
}

TEST_F(ThreadedTimerTest, AnIntervalOfZeroSetOnARunningTimerStopsItsTicks) {
    TThreadedTimer timer;
    Record(timer);
    timer.SetInterval(100);
    timer.SetEnabled(true);
    PumpUntilTicks(2, 5000);
    ASSERT_EQ(ticks.size(), 2u);
    timer.SetInterval(0);
    PumpFor(1000);
    EXPECT_EQ(ticks.size(), 2u);
    EXPECT_TRUE(timer.Enabled());
}

TEST_F(ThreadedTimerTest, TheThreadPriorityTellsWhatTheSystemHasInForce) {
    TThreadedTimer timer;
    // Raising above normal needs privileges; as an ordinary user it is refused.
    timer.SetThreadPriority(tpHighest);
    timer.SetThreadPriority(tpLower);
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(timer.WorkerThreadId()));
    const std::map<int, TThreadPriority> byNice = {
        {19, tpIdle},   {10, tpLowest},   {5, tpLower},         {0, tpNormal},
        {-5, tpHigher}, {-10, tpHighest}, {-15, tpTimeCritical}};
    ASSERT_TRUE(byNice.count(nice)) << nice;
    EXPECT_EQ(timer.ThreadPriority(), byNice.at(nice));
    timer.SetThreadPriority(tpHighest);
    const int after = getpriority(PRIO_PROCESS, static_cast<id_t>(timer.WorkerThreadId()));
    EXPECT_EQ(timer.ThreadPriority(), byNice.at(after));
}

TEST_F(ThreadedTimerTest, ANewTimerInANicedProcessTellsThePriorityItHas) {
    // Raise this thread's nice value, as `nice -n 10` would for a process; new threads
    // inherit it, and only privileged users may come back to normal.
    const int before = getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(setpriority(PRIO_PROCESS, 0, 10), 0);
    TThreadedTimer timer;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(timer.WorkerThreadId()));
    setpriority(PRIO_PROCESS, 0, before);  // refused for an ordinary user: the test ends here
    EXPECT_EQ(timer.ThreadPriority(), nice == 10 ? tpLowest : tpNormal);
}

TEST_F(ThreadedTimerTest, AHandlerThatAlwaysThrowsDoesNotStopTheTimer) {
    TThreadedTimer timer;
    timer.SetInterval(100);
    int calls = 0;
    timer.OnTimer = [&](TComponent*) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    timer.SetEnabled(true);
    const uint32_t start = GetTickCount();
    while (calls < 3 && GetTickCount() - start < 5000) MainThread().ProcessMessages();
    EXPECT_EQ(calls, 3);
}

TEST_F(ThreadedTimerTest, TheSenderIsTheTimer) {
    TQuilThreadTimer timer;
    timer.SetInterval(50);
    TComponent* sender = nullptr;
    timer.OnTimer = [&](TComponent* s) { sender = s; };
    timer.SetEnabled(true);
    const uint32_t start = GetTickCount();
    while (sender == nullptr && GetTickCount() - start < 2000) MainThread().ProcessMessages();
    EXPECT_EQ(sender, &timer);
}

TEST_F(ThreadedTimerTest, DestroyingAParkedTimerReturnsPromptly) {
    clock.SetIdleStep(0);  // virtual time stands still: only a released worker could end
    auto timer = std::make_unique<TThreadedTimer>();
    timer->SetInterval(3600000);
    timer->SetEnabled(true);
    timer->SetEnabled(false);
    const auto before = std::chrono::steady_clock::now();
    timer.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

TEST_F(ThreadedTimerTest, DestroyingARunningTimerWithAHandOffPendingDoesNotDeadlock) {
    auto timer = std::make_unique<TThreadedTimer>();
    timer->SetAllowZero(true);
    timer->SetInterval(0);
    Record(*timer);
    timer->SetEnabled(true);
    PumpUntilTicks(2, 1000);
    timer.reset();  // the worker is likely blocked in its next hand-off
    const size_t count = ticks.size();
    PumpFor(100);
    EXPECT_EQ(ticks.size(), count);
}

TEST_F(ThreadedTimerTest, QuilTimerCountersAreStopwatchStorageOnly) {
    TQuilThreadTimer timer;
    timer.SetElapsedTime(1234);
    timer.SetLapTime(56);
    EXPECT_EQ(timer.ElapsedTime(), 1234u);
    EXPECT_EQ(timer.LapTime(), 56u);
    timer.ResetTimes();
    EXPECT_EQ(timer.ElapsedTime(), 0u);
    EXPECT_EQ(timer.LapTime(), 0u);
}

TEST_F(ThreadedTimerTest, NoxTimerCountsNominalIntervalsAndMeasuredTime) {
    TNoxTimer timer;
    Record(timer);
    const uint32_t start = GetTickCount();
    timer.ResetTimes();
    timer.SetEnabled(true);
    PumpUntilTicks(3, 10000);
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_EQ(timer.NominalElapsed(), 3000u);
    EXPECT_EQ(timer.RealElapsed(), ticks[2] - start);
    EXPECT_EQ(timer.LastLapTime(), ticks[2] - ticks[1]);
    EXPECT_EQ(timer.LastTick(), ticks[2]);
}

TEST_F(ThreadedTimerTest, NoxTimerSetElapsedRestartsTheAccountingFromAValue) {
    TNoxTimer timer;
    timer.SetLapMark(9);
    timer.SetElapsed(5000);
    EXPECT_EQ(timer.RealElapsed(), 5000u);
    EXPECT_EQ(timer.NominalElapsed(), 5000u);
    EXPECT_EQ(timer.ElapsedMark(), 5000);
    EXPECT_EQ(timer.LastLapTime(), 0u);
    EXPECT_EQ(timer.LastTick(), GetTickCount());
    timer.ClearMarks();
    EXPECT_EQ(timer.ElapsedMark(), 0);
    EXPECT_EQ(timer.LapMark(), 0);
}

TEST_F(ThreadedTimerTest, NoxTickNowRunsOnlyWhenEnabledWithAHandler) {
    TNoxTimer timer;
    Record(timer);
    timer.TickNow();
    EXPECT_TRUE(ticks.empty());
    timer.SetInterval(3600000);
    timer.SetEnabled(true);
    clock.Advance(250);
    timer.TickNow();
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_EQ(timer.NominalElapsed(), 3600000u);
    EXPECT_GE(timer.RealElapsed(), 250u);
}

}  // namespace
}  // namespace wct
