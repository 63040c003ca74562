// SPDX-License-Identifier: Apache-2.0
#include "common/application_messages.h"

#include <utility>

#include "common/main_thread.h"

namespace wct {
namespace {

// Main thread only: read by the posted work, which runs there.
TApplicationMessageHandler& Handler() {
    static TApplicationMessageHandler handler;
    return handler;
}

}  // namespace

void PostApplicationMessage(uint32_t message, intptr_t wParam, intptr_t lParam) {
    MainThread().Post([=] {
        if (Handler()) Handler()(message, wParam, lParam);
    });
}

void SetApplicationMessageHandler(TApplicationMessageHandler handler) {
    Handler() = std::move(handler);
}

}  // namespace wct
