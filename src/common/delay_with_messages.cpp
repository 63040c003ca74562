#include "common/delay_with_messages.h"

#include "common/main_thread.h"
#include "common/tick_count.h"

namespace wct {

void DelayWithMessages(uint32_t ms) {
    const uint32_t start = GetTickCount();
    for (;;) {
        const uint32_t now = GetTickCount();
        if (now < start || now - start >= ms) return;
        MainThread().ProcessMessagesFor(ms - (now - start));
    }
}

}  // namespace wct
