// SPDX-License-Identifier: Apache-2.0
// Periodic ticks timed on a worker thread and run on the main thread.
//
// Each timer owns one worker that only waits out the interval and hands the tick to the
// main thread, blocking until it has run: ticks keep their pace while the main thread is
// busy with other work, never overlap and never pile up. The first tick comes one full
// interval after enabling; changing the interval restarts the period; an exception from
// the tick handler is dropped and the timer goes on. Properties are main-thread only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "common/component.h"
#include "common/main_thread.h"
#include "common/waitable_event.h"

namespace wct {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThreadedTimer : public TComponent {
public:
    explicit TThreadedTimer(TComponent* owner = nullptr);
    ~TThreadedTimer() override;
    std::string ClassName() const override { return "TThreadedTimer"; }

    bool AllowZero() const { return allowZero_; }
    void SetAllowZero(bool value) { allowZero_ = value; }
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool value);
    uint32_t Interval() const { return interval_.load(); }
    void SetInterval(uint32_t value);
    // The priority in force: a change the system refuses leaves it as it was.
    TThreadPriority ThreadPriority() const { return priority_; }
    void SetThreadPriority(TThreadPriority value);
    // The worker's kernel thread id.
    int WorkerThreadId() const { return workerTid_.load(); }

    TNotifyEvent OnTimer;
    // A tick's handler failed, with its message: told for the first failure of each
    // message only, so a fault that repeats every tick is said once and not lost.
    std::function<void(const std::string& what)> OnTickError;

    void DefineProperties(TPropertyList& properties) override;

protected:
    // The tick procedure, on the main thread.
    virtual void Tick();
    // Runs Tick, keeping its failure from the caller (see OnTickError).
    void TickSafely();
    // Sets the field only, leaving the worker where it is.
    void SetEnabledField(bool value) { enabled_ = value; }
    bool TickWanted() const { return enabled_ && OnTimer && !Destroying(); }

private:
    void Run();
    void Park();
    void Release();

    bool enabled_ = false;
    bool allowZero_ = false;
    TThreadPriority priority_ = tpNormal;

    // Shared with the worker.
    std::atomic<uint32_t> interval_{1000};
    std::atomic<bool> terminated_{false};
    std::atomic<int> workerTid_{0};
    std::atomic<uint64_t> period_{0};  // changes whenever a running period is cut short
    TWaitableEvent wakeUp_;
    std::mutex parkMutex_;  // protects parked_
    std::condition_variable parkChanged_;
    bool parked_ = true;  // the worker starts suspended
    TWorkerThread worker_;
    std::set<std::string> failuresTold_;  // main thread only
};

// A threaded timer that also carries two stopwatch counters for its owner; the timer
// itself never changes them.
class TQuilThreadTimer : public TThreadedTimer {
public:
    using TThreadedTimer::TThreadedTimer;
    std::string ClassName() const override { return "TQuilThreadTimer"; }

    uint32_t ElapsedTime() const { return elapsedTime_; }
    virtual void SetElapsedTime(uint32_t value) { elapsedTime_ = value; }
    uint32_t LapTime() const { return lapTime_; }
    virtual void SetLapTime(uint32_t value) { lapTime_ = value; }
    virtual void ResetTimes() {
        elapsedTime_ = 0;
        lapTime_ = 0;
    }

    void DefineProperties(TPropertyList& properties) override;

private:
    uint32_t elapsedTime_ = 0;
    uint32_t lapTime_ = 0;
};

}  // namespace wct
