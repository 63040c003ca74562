// SPDX-License-Identifier: Apache-2.0
// Waits that keep the main thread serving: hand-offs from port and timer threads, posted
// work and, under Qt, window events run while the caller waits. Main thread only.
#pragma once

#include <cstdint>
#include <functional>

namespace wct {

// Serves the main thread until `done` holds or `ms` ticks have passed; true when `done`
// held. `done` is asked before every pass, so a wait that is already over serves nothing.
// One pass blocks at most `slice` ticks when nothing arrives, so that what no hand-off
// announces (an interrupt flag, a deadline of the caller's) is seen that soon.
bool ServeUntil(const std::function<bool()>& done, uint32_t ms, uint32_t slice = UINT32_MAX);

// Waits `ms` milliseconds of tick time while the main thread keeps processing its
// pending work. Also ends when the tick counter wraps during the wait.
void DelayWithMessages(uint32_t ms);

}  // namespace wct
