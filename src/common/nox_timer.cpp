// SPDX-License-Identifier: Apache-2.0
#include "common/nox_timer.h"

#include "common/tick_count.h"

namespace wct {

TNoxTimer::TNoxTimer(TComponent* owner) : TThreadedTimer(owner) {
    ClearMarks();
    ResetTimes();
}

void TNoxTimer::SetEnabled(bool value) {
    if (Designing()) return;
    TThreadedTimer::SetEnabled(value);
}

void TNoxTimer::ResetTimes() {
    nominalElapsed_ = 0;
    lastLapTime_ = 0;
    realElapsed_ = 0;
    lastTick_ = GetTickCount();
}

void TNoxTimer::SetElapsed(uint32_t value) {
    const bool wasEnabled = Enabled();
    SetEnabledField(false);
    ResetTimes();
    realElapsed_ = value;
    lastLapTime_ = 0;
    nominalElapsed_ = value;
    elapsedMark_ = static_cast<int32_t>(value);
    SetEnabledField(wasEnabled);
}

void TNoxTimer::ClearMarks() {
    elapsedMark_ = 0;
    lapMark_ = 0;
}

void TNoxTimer::TickNow() {
    TickSafely();
}

void TNoxTimer::Tick() {
    if (!TickWanted()) return;
    lastLapTime_ = GetTickCount() - lastTick_;
    realElapsed_ += GetTickCount() - lastTick_;
    lastTick_ = GetTickCount();
    nominalElapsed_ += Interval();
    OnTimer(this);
}

}  // namespace wct
