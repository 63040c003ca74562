// SPDX-License-Identifier: Apache-2.0
// The statistics timer of rider devices: a threaded timer that keeps its own time
// accounting, measured (RealElapsed) and nominal (NominalElapsed, the sum of the
// intervals ticked), plus two marks its owner stores.
#pragma once

#include "common/threaded_timer.h"

namespace wct {

class TNoxTimer : public TThreadedTimer {
public:
    explicit TNoxTimer(TComponent* owner = nullptr);
    std::string ClassName() const override { return "TNoxTimer"; }

    void SetEnabled(bool value) override;

    uint32_t LastTick() const { return lastTick_; }
    uint32_t NominalElapsed() const { return nominalElapsed_; }
    uint32_t LastLapTime() const { return lastLapTime_; }
    uint32_t RealElapsed() const { return realElapsed_; }
    int32_t ElapsedMark() const { return elapsedMark_; }
    virtual void SetElapsedMark(int32_t value) { elapsedMark_ = value; }
    int32_t LapMark() const { return lapMark_; }
    virtual void SetLapMark(int32_t value) { lapMark_ = value; }

    virtual void ResetTimes();
    // Restarts the accounting as if `value` ms had already passed.
    virtual void SetElapsed(uint32_t value);
    virtual void ClearMarks();
    // Runs the tick procedure at once on the calling (main) thread.
    virtual void TickNow();

protected:
    void Tick() override;

private:
    uint32_t lastTick_ = 0;
    uint32_t nominalElapsed_ = 0;
    uint32_t lastLapTime_ = 0;
    uint32_t realElapsed_ = 0;
    int32_t elapsedMark_ = 0;
    int32_t lapMark_ = 0;
};

}  // namespace wct
