// SPDX-License-Identifier: Apache-2.0
// THeartCut: the rule that keeps the brake off a rider whose heart is beyond a maximum.
//
// It is fed raw heart readings, one at a time, as the sensor gives them. A reading above
// the maximum starts a cut. A reading below the no-signal floor is no heart rate at all
// (a lost chest strap reads 0): it neither starts nor ends a cut, and it breaks a run of
// good readings. A cut ends only after `readingsToEnd` real readings in a row at or below
// the maximum less the hysteresis, so a heart that has not come down, or a signal that
// is gone, keeps the brake off. The wireless bench, the rider devices and the wired
// driver all apply this one rule.
#pragma once

#include <cstdint>
#include <string>

namespace wct {

class THeartCut {
public:
    static constexpr int32_t kSignalFloor = 35;  // bpm; below it the sensor has no heart
    static constexpr int32_t kHysteresis = 5;    // bpm under the maximum that ends a cut
    static constexpr int32_t kDefaultMaximum = 220;

    enum TChange { hcNone, hcStarted, hcEnded };

    explicit THeartCut(int32_t maximum = kDefaultMaximum, int readingsToEnd = 1);

    TChange Feed(int32_t bpm);
    bool Active() const { return active_; }
    // A cut in force stays in force; a new maximum judges the readings from now on.
    void SetMaximum(int32_t bpm) { maximum_ = bpm; }
    int32_t Maximum() const { return maximum_; }
    int32_t ReleaseLevel() const { return maximum_ - kHysteresis; }
    void SetReadingsToEnd(int count) { readingsToEnd_ = count < 1 ? 1 : count; }
    int ReadingsToEnd() const { return readingsToEnd_; }
    // The reading that started the cut in force, or that ended the last one.
    int32_t LastReading() const { return lastReading_; }

    // What a person reads when a cut starts or ends: "heart rate 225 above 220: brake
    // held at 0", "heart rate 150 at or below 215: brake released".
    std::string StartText() const;
    std::string EndText() const;

private:
    int32_t maximum_;
    int readingsToEnd_;
    bool active_ = false;
    int goodReadings_ = 0;
    int32_t lastReading_ = 0;
};

}  // namespace wct
