// SPDX-License-Identifier: Apache-2.0
// The time a simulator runs on.
//
// A simulator reads its clock for every schedule (measure rates, reply delays, join
// delays) and asks it how long its thread may sleep. Tests inject a virtual clock so
// that seconds of device time pass in milliseconds.
//
// A simulator also tells its clock when its thread goes to sleep and when it is at work
// again. A clock that runs by itself ignores it; TPacedClock waits for it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "common/tick_count.h"

namespace wct::sim {

class TPtySimulator;

// What a simulator's thread leaves behind when it goes to sleep.
struct TSimSleep {
    std::optional<uint32_t> due;  // clock ms of its next work; none: only what comes in
    int wakeFd = -1;              // an eventfd: writing 1 to it wakes the thread
    int master = -1;              // its pseudo-terminal, -1 while vanished
    int slave = -1;               // its own descriptor of the slave side, -1 likewise
};

class TSimClock {
public:
    virtual ~TSimClock() = default;
    // Milliseconds; wraps like the tick counter. Any thread.
    virtual uint32_t Now() const = 0;
    // Real milliseconds the simulator thread may sleep while waiting for `ms` of this
    // clock's time (-1: until woken); it wakes earlier on received bytes and calls.
    virtual int RealSleep(uint32_t ms) const = 0;

    // The simulator is at work: from Start (on the caller's thread) and each time its
    // thread wakes. The descriptors it gave with Sleeps stay open until it sleeps again.
    virtual void Works(const TPtySimulator*) {}
    // Its thread has done all that was due up to Now() and sleeps.
    virtual void Sleeps(const TPtySimulator*, const TSimSleep&) {}
    // Stop joined its thread.
    virtual void Stopped(const TPtySimulator*) {}
};

// wct::GetTickCount: real time, or the virtual clock a test installed in the process. It
// sleeps as long as the tick source says a wait for the ticks should block, and never
// more than 10 ms at a time, so a virtual clock moved by a test is followed within that.
class TTickClock : public TSimClock {
public:
    uint32_t Now() const override;
    int RealSleep(uint32_t ms) const override;
};

// The default clock of every simulator.
TSimClock& DefaultClock();

// Virtual time shared by the simulators and the code under test, for tests that run both
// in one process: the process's tick source for as long as it lives, and the clock of the
// simulators given it in their settings.
//
// Like a TVirtualClock with an idle step it moves on each time the main thread idles; but
// not while one of its simulators is at work or has bytes from the PC still to take in,
// not while bytes a simulator sent wait unread on a slave that the process has open, and
// never past the time a simulator's next work is due. It wakes the simulator at that time.
// Device time and PC time then keep in step however busy the machine is: no simulator is
// ever late, and what it sent is read before the PC's time moves on, so a test that waits
// some protocol time for an answer waits for the answer.
//
// Unread bytes hold it for at most kUnreadHoldMs of real time: a reader that stopped
// reading (a full input queue) cannot stop it for ever.
class TPacedClock : public TTickSource, public TSimClock {
public:
    static constexpr std::chrono::milliseconds kUnreadHoldMs{2000};

    explicit TPacedClock(uint32_t start = 1000, uint32_t idleStep = 1);
    ~TPacedClock() override;
    TPacedClock(const TPacedClock&) = delete;
    TPacedClock& operator=(const TPacedClock&) = delete;

    // Any thread.
    uint32_t Now() override;
    uint32_t Now() const override;
    // Moves the clock at once, as a device's thread that is late sees it; the simulators
    // wake and catch up before it moves again.
    void Advance(uint32_t ms);
    void SetIdleStep(uint32_t ms) { idleStep_.store(ms); }

    void Idle() override;
    std::chrono::milliseconds WaitSlice(uint32_t) override { return std::chrono::milliseconds(1); }
    int RealSleep(uint32_t) const override { return -1; }
    void Works(const TPtySimulator* simulator) override;
    void Sleeps(const TPtySimulator* simulator, const TSimSleep& sleep) override;
    void Stopped(const TPtySimulator* simulator) override;

private:
    struct TSimulator {
        bool working = true;
        TSimSleep sleep;
        std::optional<std::chrono::steady_clock::time_point> unreadSince;
    };

    // Whether `s` keeps the clock where it is; under the lock.
    bool Holds(TSimulator& s);
    void Wake(TSimulator& s);

    std::atomic<uint32_t> idleStep_;
    std::mutex mutex_;  // protects simulators_ and every change of now_
    std::map<const TPtySimulator*, TSimulator> simulators_;
    std::atomic<uint32_t> now_;
};

}  // namespace wct::sim
