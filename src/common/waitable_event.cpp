// SPDX-License-Identifier: Apache-2.0
#include "common/waitable_event.h"

#include "common/tick_count.h"

namespace wct {

void TWaitableEvent::Set() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    changed_.notify_all();
}

bool TWaitableEvent::Wait(uint32_t ms) {
    const uint32_t start = GetTickCount();
    std::unique_lock lock(mutex_);
    for (;;) {
        if (signalled_) {
            signalled_ = false;
            return true;
        }
        const uint32_t elapsed = GetTickCount() - start;
        if (elapsed >= ms) return false;
        changed_.wait_for(lock, TickSource().WaitSlice(ms - elapsed));
    }
}

}  // namespace wct
