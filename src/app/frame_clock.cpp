// SPDX-License-Identifier: Apache-2.0
#include "app/frame_clock.h"

namespace wct {

TFrameClock::TFrameClock() {
    timer_.setSingleShot(true);
    timer_.setInterval(kFrameMs);
}

void TFrameClock::Request() {
    if (!timer_.isActive()) timer_.start();
}

void TFrameClock::Follow(QObject* view, std::function<void()> draw) {
    QObject::connect(&timer_, &QTimer::timeout, view, std::move(draw));
}

}  // namespace wct
