// SPDX-License-Identifier: Apache-2.0
#include "common/threaded_timer.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

namespace wct {
namespace {

constexpr std::array<const char*, 7> kPriorityNames = {
    "tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest", "tpTimeCritical"};

// Linux schedules normal threads by nice value; raising needs privileges, so a refused
// change leaves the thread at the nice value it has.
constexpr std::array<int, 7> kNiceValues = {19, 10, 5, 0, -5, -10, -15};

}  // namespace

TThreadedTimer::TThreadedTimer(TComponent* owner) : TComponent(owner) {
    worker_.Start([this] { Run(); });
    // The priority is set on the worker from here on, so its id must be known.
    workerTid_.wait(0);
    // A process started with a nice value has its threads there, and may not come back.
    SetThreadPriority(tpNormal);
}

TThreadedTimer::~TThreadedTimer() {
    enabled_ = false;
    terminated_ = true;
    wakeUp_.Set();
    Release();
    worker_.Join();  // serves a tick the worker may be handing over right now
}

void TThreadedTimer::Run() {
    workerTid_ = static_cast<int>(syscall(SYS_gettid));
    workerTid_.notify_all();
    while (!terminated_) {
        {
            std::unique_lock lock(parkMutex_);
            parkChanged_.wait(lock, [this] { return !parked_ || terminated_; });
        }
        if (terminated_) break;
        const uint64_t period = period_.load();
        if (wakeUp_.Wait(interval_)) continue;
        if (terminated_) break;
        MainThread().RunAndWait([this, period] {
            // A tick of a period that disabling or a new interval ended is not delivered.
            if (period != period_.load()) return;
            TickSafely();
        });
    }
}

void TThreadedTimer::TickSafely() {
    std::string what;
    try {
        Tick();
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown failure";
    }
    // A handful of kinds is all a person reads; a fault that varies its text every tick
    // must not grow this without end.
    constexpr size_t kKindsTold = 16;
    if (!OnTickError || failuresTold_.size() >= kKindsTold || !failuresTold_.insert(what).second)
        return;
    try {
        OnTickError(what);
    } catch (...) {
        // Telling failed too; the timer still goes on.
    }
}

void TThreadedTimer::Park() {
    std::lock_guard lock(parkMutex_);
    parked_ = true;
}

void TThreadedTimer::Release() {
    std::lock_guard lock(parkMutex_);
    parked_ = false;
    parkChanged_.notify_all();
}

void TThreadedTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    ++period_;
    if (!value) {
        Park();
        wakeUp_.Set();  // out of the running wait, to the park
    } else if (Interval() != 0 || allowZero_) {
        wakeUp_.Set();
        Release();
    }
}

void TThreadedTimer::SetInterval(uint32_t value) {
    if (value == Interval()) return;
    const bool wasEnabled = enabled_;
    SetEnabled(false);
    interval_ = value;
    SetEnabled(wasEnabled);
}

void TThreadedTimer::SetThreadPriority(TThreadPriority value) {
    // Raising a thread's priority needs privileges most users lack; a refused change
    // leaves the property telling the priority in force, the level nearest its nice value.
    const auto tid = static_cast<id_t>(workerTid_.load());
    if (setpriority(PRIO_PROCESS, tid, kNiceValues[value]) == 0) {
        priority_ = value;
        return;
    }
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno != 0) return;
    const auto nearest =
        std::min_element(kNiceValues.begin(), kNiceValues.end(),
                         [nice](int a, int b) { return std::abs(a - nice) < std::abs(b - nice); });
    priority_ = static_cast<TThreadPriority>(nearest - kNiceValues.begin());
}

void TThreadedTimer::Tick() {
    if (TickWanted()) OnTimer(this);
}

void TThreadedTimer::DefineProperties(TPropertyList& p) {
    using C = TThreadedTimer;
    p.Bind("AllowZero", this, &C::AllowZero, &C::SetAllowZero, false);
    p.Bind("Enabled", this, &C::Enabled, &C::SetEnabled, false);
    p.Bind("Interval", this, &C::Interval, &C::SetInterval, 1000);
    p.BindEnum("ThreadPriority", kPriorityNames, this, &C::ThreadPriority, &C::SetThreadPriority,
               tpNormal);
}

void TQuilThreadTimer::DefineProperties(TPropertyList& p) {
    TThreadedTimer::DefineProperties(p);
    using C = TQuilThreadTimer;
    p.Bind("ElapsedTime", this, &C::ElapsedTime, &C::SetElapsedTime, 0);
    p.Bind("LapTime", this, &C::LapTime, &C::SetLapTime, 0);
}

}  // namespace wct
