// SPDX-License-Identifier: Apache-2.0
// The millisecond tick counter every time-out, wait and time measurement reads.
//
// It behaves like the 32-bit GetTickCount of the platform the components were designed
// for: it wraps after about 49.7 days, so code compares ticks by unsigned difference.
// Tests install a TVirtualClock so that minutes of protocol time pass in milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace wct {

class TTickSource {
public:
    virtual ~TTickSource() = default;
    virtual uint32_t Now() = 0;
    // Called by the main-thread dispatcher each time it found nothing to do; a virtual
    // clock moves on here so that waiting loops make progress.
    virtual void Idle() {}
    // How long a thread waiting for `ticks` more ticks should block on real time before
    // it looks at the counter again: all of it for real ticks, a short slice for a
    // virtual clock that someone else moves.
    virtual std::chrono::milliseconds WaitSlice(uint32_t ticks) {
        return std::chrono::milliseconds(ticks);
    }
};

// Current tick, from the installed source (a monotonic clock unless replaced).
uint32_t GetTickCount();

// Installs a source; nullptr restores the monotonic clock. The caller keeps ownership
// and must keep the source alive until it is uninstalled. Safe to call while other
// threads read the tick.
void SetTickSource(TTickSource* source);
TTickSource& TickSource();

// Virtual clock for tests: moves only when told, or by `IdleStep` ms whenever the main
// thread idles. Thread-safe.
class TVirtualClock : public TTickSource {
public:
    explicit TVirtualClock(uint32_t start = 1000, uint32_t idleStep = 0)
        : now_(start), idleStep_(idleStep) {}
    uint32_t Now() override { return now_.load(); }
    void Idle() override { now_.fetch_add(idleStep_.load()); }
    std::chrono::milliseconds WaitSlice(uint32_t) override { return std::chrono::milliseconds(1); }
    void Advance(uint32_t ms) { now_.fetch_add(ms); }
    void Set(uint32_t tick) { now_.store(tick); }
    void SetIdleStep(uint32_t ms) { idleStep_.store(ms); }

private:
    std::atomic<uint32_t> now_;
    std::atomic<uint32_t> idleStep_;
};

// Installs a virtual clock for the lifetime of the object (tests).
class TScopedVirtualClock : public TVirtualClock {
public:
    explicit TScopedVirtualClock(uint32_t start = 1000, uint32_t idleStep = 0)
        : TVirtualClock(start, idleStep) {
        SetTickSource(this);
    }
    ~TScopedVirtualClock() override { SetTickSource(nullptr); }
    TScopedVirtualClock(const TScopedVirtualClock&) = delete;
    TScopedVirtualClock& operator=(const TScopedVirtualClock&) = delete;
};

}  // namespace wct
