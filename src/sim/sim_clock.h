// The time a simulator runs on.
//
// A simulator reads its clock for every schedule (measure rates, reply delays, join
// delays) and asks it how long its thread may sleep. Tests inject a faster or a
// hand-driven clock so that seconds of device time pass in milliseconds.
#pragma once

#include <cstdint>

namespace wct::sim {

class TSimClock {
public:
    virtual ~TSimClock() = default;
    // Milliseconds; wraps like the tick counter. Any thread.
    virtual uint32_t Now() const = 0;
    // Real milliseconds the simulator thread may sleep while waiting for `ms` of this
    // clock's time; it wakes earlier on received bytes and calls.
    virtual int RealSleep(uint32_t ms) const = 0;
};

// wct::GetTickCount: real time, or the virtual clock a test installed in the process. It
// never sleeps more than 10 ms at a time, so a virtual clock moved by a test is
// followed within that.
class TTickClock : public TSimClock {
public:
    uint32_t Now() const override;
    int RealSleep(uint32_t ms) const override;
};

// The default clock of every simulator.
TSimClock& DefaultClock();

// Monotonic time running `factor` times faster than real time, for rate tests.
class TScaledClock : public TSimClock {
public:
    explicit TScaledClock(double factor);
    uint32_t Now() const override;
    int RealSleep(uint32_t ms) const override;

private:
    double factor_;
};

}  // namespace wct::sim
