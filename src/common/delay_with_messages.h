#pragma once

#include <cstdint>

namespace wct {

// Waits `ms` milliseconds of tick time while the main thread keeps processing its
// pending work. Also ends when the tick counter wraps during the wait. Main thread only.
void DelayWithMessages(uint32_t ms);

}  // namespace wct
