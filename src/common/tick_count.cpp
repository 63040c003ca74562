// SPDX-License-Identifier: Apache-2.0
#include "common/tick_count.h"

#include <chrono>

namespace wct {
namespace {

class TMonotonicTicks : public TTickSource {
public:
    uint32_t Now() override {
        using namespace std::chrono;
        auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return static_cast<uint32_t>(ms);
    }
};

TMonotonicTicks monotonicTicks;
std::atomic<TTickSource*> installed{&monotonicTicks};

}  // namespace

uint32_t GetTickCount() {
    return installed.load()->Now();
}

void SetTickSource(TTickSource* source) {
    installed.store(source != nullptr ? source : &monotonicTicks);
}

TTickSource& TickSource() {
    return *installed.load();
}

}  // namespace wct
