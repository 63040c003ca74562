// SPDX-License-Identifier: Apache-2.0
#include "common/delay_with_messages.h"

#include <algorithm>

#include "common/main_thread.h"
#include "common/tick_count.h"

namespace wct {

bool ServeUntil(const std::function<bool()>& done, uint32_t ms, uint32_t slice) {
    // Time is the unsigned difference from the start tick: it stays right when the
    // 32-bit counter wraps during the wait, which therefore lasts its full `ms`. Waits
    // that must end at the wrap (the named ones below) say so in `done`.
    const uint32_t start = GetTickCount();
    for (;;) {
        if (done()) return true;
        const uint32_t elapsed = GetTickCount() - start;
        if (elapsed >= ms) return false;
        MainThread().ProcessMessagesFor(std::min(ms - elapsed, slice));
    }
}

void DelayWithMessages(uint32_t ms) {
    const uint32_t start = GetTickCount();
    ServeUntil([start] { return GetTickCount() < start; }, ms);
}

}  // namespace wct
