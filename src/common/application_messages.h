// SPDX-License-Identifier: Apache-2.0
// Messages posted to the application's own window, the way a component tells the
// application something without holding a reference to any window.
//
// PostApplicationMessage queues the message for the main thread and returns at once; the
// handler installed there (the app's, or a test's) receives it on the main thread. With
// no handler installed the message is dropped, as a window that does not handle it would.
#pragma once

#include <cstdint>
#include <functional>

namespace wct {

using TApplicationMessageHandler =
    std::function<void(uint32_t message, intptr_t wParam, intptr_t lParam)>;

// Any thread.
void PostApplicationMessage(uint32_t message, intptr_t wParam, intptr_t lParam);
// Main thread; an empty handler uninstalls.
void SetApplicationMessageHandler(TApplicationMessageHandler handler);

}  // namespace wct
