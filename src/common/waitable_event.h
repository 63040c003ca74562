// SPDX-License-Identifier: Apache-2.0
// An auto-reset event with a timed wait measured on the tick counter, so that waits run
// in virtual time under a test clock. Thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace wct {

class TWaitableEvent {
public:
    void Set();
    // Waits until the event is set (returns true and resets it) or `ms` ticks have passed
    // (returns false).
    bool Wait(uint32_t ms);

private:
    std::mutex mutex_;  // protects signalled_
    std::condition_variable changed_;
    bool signalled_ = false;
};

}  // namespace wct
