// SPDX-License-Identifier: Apache-2.0
#include "common/heart_cut.h"

namespace wct {

THeartCut::THeartCut(int32_t maximum, int readingsToEnd) : maximum_(maximum) {
    SetReadingsToEnd(readingsToEnd);
}

THeartCut::TChange THeartCut::Feed(int32_t bpm) {
    if (bpm < kSignalFloor) {
        goodReadings_ = 0;
        return hcNone;
    }
    if (bpm > maximum_) {
        goodReadings_ = 0;
        if (active_) return hcNone;
        active_ = true;
        lastReading_ = bpm;
        return hcStarted;
    }
    if (bpm > ReleaseLevel()) {
        goodReadings_ = 0;
        return hcNone;
    }
    if (!active_ || ++goodReadings_ < readingsToEnd_) return hcNone;
    active_ = false;
    goodReadings_ = 0;
    lastReading_ = bpm;
    return hcEnded;
}

std::string THeartCut::StartText() const {
    return "heart rate " + std::to_string(lastReading_) + " above " + std::to_string(maximum_) +
           ": brake held at 0";
}

std::string THeartCut::EndText() const {
    return "heart rate " + std::to_string(lastReading_) + " at or below " +
           std::to_string(ReleaseLevel()) + ": brake released";
}

}  // namespace wct
