// SPDX-License-Identifier: Apache-2.0
// Heart rate and cadence: beat and pedal flags, long-frame periods, the two heart-rate
// filters, the heart survey, averages and the heart-rate alarm.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "common/round_decimals.h"
#include "common/tick_count.h"
#include "wired/velox_device.h"

namespace wct::wired {

namespace {

constexpr int32_t kMinBeatPeriodMs = 240;
constexpr int32_t kMaxHeartRate = 230;
// A trainer holds the last beat-to-beat period between beats; a real heart never repeats
// its period to the millisecond for this long, so a period frozen longer is a strap that
// was lost while the trainer kept its last value.
constexpr uint32_t kFrozenHeartPeriodMs = 30000;
constexpr uint32_t kMinPedalPeriodMs = 300;
constexpr unsigned kMinLongPedalPeriodMs = 200;
constexpr unsigned kNoPeriod = 0xFFFF;

template <typename T>
void Shift(std::vector<T>& window, T value) {
    std::rotate(window.begin(), window.begin() + 1, window.end());
    window.back() = value;
}

template <typename T>
long double Mean(const std::vector<T>& window) {
    return std::accumulate(window.begin(), window.end(), 0.0L) / window.size();
}

}  // namespace

// ---- Properties --------------------------------------------------------------------------

void TVeloxDevice::SetHeartEnabled(bool value) {
    if (value == heartEnabled_) return;
    heartEnabled_ = value;
    SetHeartConnectionSurvey(value);
    SetHeartConnectionActive(value);
}

void TVeloxDevice::SetHeartConnectionSurvey(bool value) {
    if (value == heartConnectionSurvey_) return;
    heartConnectionSurvey_ = value;
    SwitchHeartTimer();
}

void TVeloxDevice::SwitchHeartTimer() {
    const bool wanted = connected_ && heartConnectionSurvey_ && heartEnabled_;
    if (heartTimer_->Enabled() != wanted) heartTimer_->SetEnabled(wanted);
}

void TVeloxDevice::SetHeartConnectionActive(bool value) {
    if (value == heartConnectionActive_) return;
    heartConnectionActive_ = value;
    if (!value) {
        heartRate_ = 0;
        averageHeartRate_ = 0;
    }
}

void TVeloxDevice::SetHrDelayBeforeReset(int32_t value) {
    if (value == hrDelayBeforeReset_) return;
    hrDelayBeforeReset_ = value;
    heartTimer_->SetInterval(static_cast<uint32_t>(std::max(value, 0)));
}

void TVeloxDevice::SetHeartArrayLength(int32_t value) {
    heartRates_.resize(static_cast<size_t>(std::max(value, 1)), 0);
}

void TVeloxDevice::SetCadenceArrayLength(int32_t value) {
    cadences_.resize(static_cast<size_t>(std::max(value, 1)), 0);
}

// ---- Heart rate --------------------------------------------------------------------------

void TVeloxDevice::ResetHeart() {
    lastBeatTick_ = GetTickCount();
    beatPeriod_ = 0;
    filter2_.limit = 60;
    firstBeat_ = false;
    filter2_.prime0 = filter2_.prime1 = filter2_.prime2 = true;
}

void TVeloxDevice::HeartBeat() {
    const uint32_t now = GetTickCount();
    if (firstBeat_) {
        beatPeriod_ = std::max(static_cast<int32_t>(now - lastBeatTick_), kMinBeatPeriodMs);
    } else {
        firstBeat_ = true;
    }
    lastBeatTick_ = now;
    beatSeen_ = true;
    if (beatPeriod_ != 0) {
        const int32_t hr = RoundHalfEven(60000.0L / beatPeriod_);
        const int32_t y = hrFilter2Active_ ? HeartFilter2(hr) : HeartFilter1(hr);
        if (y > kMaxHeartRate) {
            heartRate_ = kMaxHeartRate;
            ResetHeart();
        } else if (y < 0) {
            heartRate_ = 0;
            ResetHeart();
        } else {
            heartRate_ = y;
        }
        if (heartRate_ > 0) {
            heartSum_ += heartRate_;
            ++heartCount_;
        }
    } else {
        heartRate_ = 0;
    }
    if (OnInstantHeart) {
        char text[32];
        std::snprintf(text, sizeof text, "%d\t%d\t%s", beatPeriod_, 0, "");
        OnInstantHeart(this, text);
    }
}

int32_t TVeloxDevice::HeartFilter1(double value) {
    Shift(heartRates_, value);
    if (heartRates_.front() == 0) return 0;
    int32_t result = RoundHalfEven(Mean(heartRates_));
    if (version_ < 4.5) {
        --result;
    } else {
        heartSum_ += result;
        ++heartCount_;
    }
    return result;
}

int32_t TVeloxDevice::HeartFilter2(double x) {
    TFilter2& f = filter2_;
    if (f.prime0) {
        f.h0 = x;
        f.prime0 = false;
        return 0;
    }
    if (f.prime1) {
        f.h1 = f.h0;
        f.h0 = x;
        f.prime1 = false;
        return 0;
    }
    if (f.prime2) {
        f.h2 = f.h1;
        f.h1 = f.h0;
        f.h0 = x;
        f.prime2 = false;
        return 0;
    }
    // A jump is believed only on the third consecutive jump the same way.
    const double d = f.limit;
    bool accepted = true;
    if (x - f.h0 < -d)
        accepted = f.h0 - f.h1 < -d && f.h1 - f.h2 < -d;
    else if (x - f.h0 > d)
        accepted = f.h0 - f.h1 > d && f.h1 - f.h2 > d;
    if (!accepted) return static_cast<int32_t>(f.lastOutput);
    f.h2 = f.h1;
    f.h1 = f.h0;
    f.h0 = x;
    f.lastOutput = heartRate_;
    Shift(heartRates_, x);
    if (heartRates_.front() == 0) return 0;
    const int32_t result = RoundHalfEven(Mean(heartRates_));
    if (version_ > 4) {
        heartSum_ += result;
        ++heartCount_;
    }
    return result;
}

void TVeloxDevice::LongFramePeriods(unsigned pedalPeriod, unsigned heartPeriod,
                                    long double& heartBpm, long double& cadenceRpm) {
    heartBpm = heartPeriod > 0 && heartPeriod < kNoPeriod ? 60000.0L / heartPeriod : 0;
    const uint32_t now = GetTickCount();
    if (heartPeriod != lastHeartPeriod_) {
        lastHeartPeriod_ = heartPeriod;
        heartPeriodSinceTick_ = now;
    } else if (now - heartPeriodSinceTick_ > kFrozenHeartPeriodMs) {
        heartBpm = 0;
    }
    // The trainer holds the last beat-to-beat period between beats: every valid period
    // shows a heart, and a steady one is sampled once per period that passes, as beats.
    bool takeSample = false;
    if (heartBpm > 0) {
        beatSeen_ = true;
        if (heartBpm != lastLongFrameHeart_) {
            takeSample = true;
            lastHeartSampleTick_ = now;
        } else if (now - lastHeartSampleTick_ >= heartPeriod) {
            takeSample = true;
            lastHeartSampleTick_ += heartPeriod;
            if (now - lastHeartSampleTick_ >= heartPeriod) lastHeartSampleTick_ = now;
        }
    }
    lastLongFrameHeart_ = heartBpm;
    if (takeSample) {
        heartRate_ = hrFilter2Active_ ? HeartFilter2(static_cast<double>(heartBpm))
                                      : HeartFilter1(static_cast<double>(heartBpm));
        if (OnInstantHeart) {
            char text[32];
            std::snprintf(text, sizeof text, "%d\t%d\t%s", static_cast<int>(60000 / heartBpm), 0,
                          "");
            OnInstantHeart(this, text);
        }
    }
    cadenceRpm =
        pedalPeriod > kMinLongPedalPeriodMs && pedalPeriod < kNoPeriod ? 60000.0L / pedalPeriod : 0;
    if (cadenceRpm <= 0) return;
    const int32_t sample = RoundHalfEven(cadenceRpm);
    cadenceTotal_ += sample;
    CadenceSample(sample);
}

void TVeloxDevice::HeartSurveyTick() {
    if (Dying()) return;
    if (beatSeen_) {
        SetHeartConnectionActive(true);
    } else {
        ResetHeart();
        SetHeartConnectionActive(false);
        DoHeartConnectionLost();
    }
    beatSeen_ = false;
}

void TVeloxDevice::HeartStatsStep() {
    if (!heartEnabled_) {
        // The operator turned the processing off, not the rider's heart: a cut in force
        // holds until a real heart rate ends it.
        if (heartCut_.Active()) JudgeHeart(heartRate_);
        heartRate_ = 0;
        averageHeartRate_ = 0;
    } else {
        if (heartConnectionActive_ && heartRate_ < THeartCut::kSignalFloor)
            SetHeartConnectionActive(false);
        // The load goes before the alarm, and whatever the alarm limits are. A rate from
        // beats counts before the next survey tick calls the signal back; a lost one
        // reads 0.
        JudgeHeart(heartRate_);
        if (heartConnectionActive_) {
            AlarmCheck();
            if (heartSum_ > 0 && heartCount_ > 0)
                averageHeartRate_ =
                    RoundHalfEven(static_cast<long double>(heartSum_) / heartCount_);
        }
    }
    if (cadence_ > 0) {
        const long double elapsed = statsTimer_->ElapsedTime();
        if (elapsed > 0) {
            averageCadence_ = version_ > 4 ? RoundHalfEven(cadenceTotal_ / (elapsed / 100))
                                           : RoundHalfEven(cadenceTotal_ / elapsed * 60000);
        }
    }
}

void TVeloxDevice::AlarmCheck() {
    bool isHigherLimit = false;
    if (heartRate_ >= alarmHigh_)
        isHigherLimit = true;
    else if (heartRate_ > alarmLow_)
        return;
    bool doStop = true;
    const bool abortedByComponent = false;
    // Without a low limit there is no scale to measure the deviation on.
    int32_t percentDelta = 0;
    if (alarmLow_ > 0) {
        percentDelta =
            heartRate_ < alarmHigh_
                ? RoundHalfEven(static_cast<long double>(alarmLow_ - heartRate_) / alarmLow_ * 100)
                : RoundHalfEven(static_cast<long double>(heartRate_ - alarmHigh_) / alarmHigh_ *
                                100);
    }
    // Above the absolute limit the heart cut holds the load at 0 and the ride goes on.
    if (heartRate_ > alarmAbsolute_) {
        DoAlarmHeart(percentDelta, isHigherLimit, abortedByComponent, doStop);
        return;
    }
    DoAlarmHeart(percentDelta, isHigherLimit, abortedByComponent, doStop);
    if (doStop) {
        SetVeloxResistance(0);
        veloxElevation_ = 0;
        stoppedByComponent_ = true;
        Stop();
    }
}

void TVeloxDevice::SetAlarmHeartAbsoluteLimit(int32_t value) {
    alarmAbsolute_ = value;
    heartCut_.SetMaximum(value);
}

void TVeloxDevice::JudgeHeart(int32_t bpm) {
    if (heartCut_.Feed(bpm) == THeartCut::hcNone) return;
    // The trainer hears of it now, not at the next load some handler asks for.
    try {
        SendResistance();
    } catch (const std::exception&) {
        // The next load carries it; a lost link shows in the survey.
    }
}

// ---- Cadence -----------------------------------------------------------------------------

void TVeloxDevice::CadenceFlag() {
    const uint32_t now = GetTickCount();
    const uint32_t since = now - lastPedalTick_;
    if (since < kMinPedalPeriodMs) return;
    lastPedalTick_ = now;
    ++cadenceTotal_;
    CadenceSample(RoundHalfEven(60000.0L / since));
}

void TVeloxDevice::CadenceSample(int32_t rpm) {
    lastCadenceSampleTick_ = GetTickCount();
    Shift(cadences_, rpm);
    cadence_ = cadences_.front() != 0 ? RoundHalfEven(Mean(cadences_)) : 0;
}

void TVeloxDevice::ExpireCadence() {
    // Pedalling has stopped when no revolution came for the delay (no flag, or periods
    // of 0xFFFF); the window starts afresh, as at the start of a ride.
    if (GetTickCount() - lastCadenceSampleTick_ < static_cast<uint32_t>(cadenceCalcDelay_)) return;
    cadence_ = 0;
    std::fill(cadences_.begin(), cadences_.end(), 0);
}

}  // namespace wct::wired
