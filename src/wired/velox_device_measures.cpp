// SPDX-License-Identifier: Apache-2.0
// Roll events, speed, distance, the statistics tick, power, calories and the load.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "common/round_decimals.h"
#include "common/tick_count.h"
#include "wired/velox_device.h"
#include "wired/velox_frame.h"

namespace wct::wired {

namespace {

// Shared by all instances: one statistics step at a time.
bool statsBusy = false;

}  // namespace

long double TVeloxDevice::MassTerm() const {
    return riderWeight_ + (unitMeasure_ == umKm ? 10 : 22);
}

void TVeloxDevice::UpdateMetresPerRollEvent() {
    metresPerRollEvent_ = RoundDecimals(
        4, rollDiameter_ * std::numbers::pi_v<long double> * roundsPerRollEvent_ / 1000);
}

void TVeloxDevice::SetRollDiameter(double value) {
    if (value == rollDiameter_) return;
    rollDiameter_ = value;
    UpdateMetresPerRollEvent();
}

void TVeloxDevice::SetNumberOfRoundPerRollEvent(double value) {
    if (value == roundsPerRollEvent_) return;
    roundsPerRollEvent_ = value;
    UpdateMetresPerRollEvent();
}

void TVeloxDevice::SetUnitMeasure(TUnitMeasure value) {
    if (value == unitMeasure_) return;
    unitMeasure_ = value;
    UpdateMetresPerRollEvent();
}

void TVeloxDevice::SetSpeedArrayLength(int32_t value) {
    speeds_.resize(static_cast<size_t>(std::max(value, 1)), 0);
}

void TVeloxDevice::SetVirtualSpeedEnabled(bool value) {
    if (value == virtualSpeedEnabled_) return;
    virtualSpeedEnabled_ = value;
    if (!value) ResetVirtualSpeed();
}

void TVeloxDevice::SetResistanceReducer(double value) {
    resistanceReducer_ = std::clamp(value, 0.0, 1.0);
}

// ---- Roll events, distance and speed ------------------------------------------------------

void TVeloxDevice::RollIncrement(long double events) {
    rollIncrement_ = events;
    rollTotal_ += events;
    measuredSinceTotal_ += events;
    UpdateDistance();
}

void TVeloxDevice::TakeRollTotal(uint32_t total) {
    // The trainer counts from power-on. Its total corrects what the measures counted
    // since its previous total, and never moves the distance back: events counted ahead
    // of it are carried until it catches up. A total that falls (the trainer restarted)
    // is a new baseline.
    if (status_ != vdsRunning) return;
    if (totalBaselinePending_ || total < lastTrainerTotal_) {
        totalBaselinePending_ = false;
        measuredSinceTotal_ = 0;
    } else {
        const long double rolled = total - lastTrainerTotal_;
        const long double missed = rolled - measuredSinceTotal_;
        measuredSinceTotal_ = std::max(-missed, 0.0L);
        if (missed > 0) {
            rollIncrement_ = missed;
            rollTotal_ += missed;
            UpdateDistance();
        }
    }
    lastTrainerTotal_ = total;
}

void TVeloxDevice::UpdateDistance() {
    if (courseFinished_) return;
    const long double metres = rollTotal_ * metresPerRollEvent_;
    distance_ = RoundDecimals(precisionDistance_, metres / (unitMeasure_ == umKm ? 1000 : 1609));
    if (courseDistance_ > 0 && distance_ > 0 && distance_ >= courseDistance_) {
        courseFinished_ = true;
        stoppedByComponent_ = true;
    }
}

long double TVeloxDevice::SpeedSample(long double value) {
    const long double covered = metresPerRollEvent_ * value / (unitMeasure_ == umKm ? 1000 : 1609);
    long double v =
        version_ >= 4 ? covered * 36000 : covered / (std::max(bytesCounted_, 1) * 10) * 3600000;
    v = RoundDecimals(precisionSpeed_, v);
    std::rotate(speeds_.begin(), speeds_.begin() + 1, speeds_.end());
    speeds_.back() = static_cast<double>(v);
    const long double sum = std::accumulate(speeds_.begin(), speeds_.end(), 0.0L);
    realSpeed_ = RoundDecimals(precisionSpeed_, sum / speeds_.size());
    const size_t n = std::min(speeds_.size(), size_t{version_ >= 4.5 ? 3u : 6u});
    const long double newest =
        std::accumulate(speeds_.end() - static_cast<ptrdiff_t>(n), speeds_.end(), 0.0L);
    long double shortMean = RoundDecimals(precisionSpeed_, newest / n);
    long double result = realSpeed_;
    if (virtualSpeedEnabled_ && !simulationMode_) {
        const long double k = version_ > 3 ? 0.1 : 0.01;
        rollTotal_ += k * (virtualDistanceIncrement_ * (unitMeasure_ == umKm ? 1000 : 1609)) /
                      metresPerRollEvent_;
        UpdateDistance();
        shortMean += virtualDelta_;
        result = realSpeed_ + virtualDelta_;
    }
    instantSpeed_ = shortMean >= 0 ? shortMean : 0;
    DoInstantSpeed();
    speed_ = result;
    return result;
}

// ---- Statistics tick ----------------------------------------------------------------------

void TVeloxDevice::StatsTick() {
    if (statsBusy) return;
    statsBusy = true;
    try {
        StatsStep();
    } catch (...) {
        statsBusy = false;
        if (courseFinished_) {
            Stop();
            DoCourseFinished();
        }
        throw;
    }
    statsBusy = false;
    if (courseFinished_) {
        Stop();
        DoCourseFinished();
    }
}

void TVeloxDevice::StatsStep() {
    // 1. Long-frame trainers are kept alive from here.
    if (version_ > 4 && connected_ && maintainsConsoleActive_ && status_ != vdsDisconnected) {
        try {
            SendResistance();
        } catch (const std::exception&) {
            // The survey notices a trainer that no longer hears us.
        }
    }
    // 2. Ride clock.
    const uint32_t elapsed = GetTickCount() - rideStartTick_;
    const uint32_t lapTime = elapsed - statsTimer_->LapTime();
    statsTimer_->SetElapsedTime(elapsed);
    // 3. Lap.
    const int32_t lapEventCount = receivedMessages_;
    lapRollCount_ = rollTotal_ - lastTickRollTotal_;
    lapDistance_ = RoundDecimals(precisionDistance_, lapRollCount_ * metresPerRollEvent_) /
                   (unitMeasure_ == umKm ? 1000 : 1609);
    const long double tickDistance = distance_;
    // 4. Heart rate and average cadence.
    ExpireCadence();
    HeartStatsStep();
    // 5. Speed.
    const long double oldSpeed = speed_;
    if (speed_ < 0) {
        speed_ = 0;
        realSpeed_ = 0;
    }
    const bool speedChanged = speed_ != oldSpeed;
    // 6. Calories, for a tick of one second.
    const long double w = MassTerm();
    const long double s = currentSlope_;
    const bool km = unitMeasure_ == umKm;
    const long double a = km ? 4.4e-6L : 1.83e-5L;
    const long double b = km ? 1.8e-5L : 1.3e-5L;
    const long double c = km ? 0.002L : 0.0015L;
    const long double v = oldSpeed;
    caloriesTotal_ += std::max(a * v * v * v + b * w * v + c * s * v, 0.0L);
    calories_ = RoundHalfEven(caloriesTotal_);
    // 7. Virtual speed.
    if (virtualSpeedEnabled_ && !simulationMode_) {
        if (s < 0 || (virtualDelta_ > 0 && s >= 0))
            ComputeVirtualSpeed(realSpeed_);
        else
            ResetVirtualSpeed();
        virtualDistanceIncrement_ =
            virtualDelta_ != 0 ? RoundDecimals(precisionDistance_, virtualDelta_ / 3600) : 0;
    }
    // 8. Average speed.
    averageSpeed_ =
        elapsed != 0
            ? std::max(RoundDecimals(precisionSpeed_, tickDistance / elapsed * 3600000), 0.0L)
            : 0;
    // 9. Power.
    const long double powerSpeed = virtualSpeedEnabled_ && !simulationMode_ ? realSpeed_ : speed_;
    power_ = RoundHalfEven(PowerModel(s, powerSpeed));
    // 10. Maxima.
    maxCadence_ = std::max(maxCadence_, cadence_);
    maxHeartRate_ = std::max(maxHeartRate_, heartRate_);
    maxSpeed_ = std::max(maxSpeed_, speed_);
    // 11. High-power reduction, then the statistics event.
    UpdateHighPower();
    DoStats(static_cast<int32_t>(lapTime), lapEventCount, lapRollCount_, lapDistance_, oldSpeed,
            speedChanged);
    // 12. The next tick makes up for this one's lateness, unless it was far off.
    int64_t correction = int64_t{statsTimer_->Interval()} - lapTime;
    if (std::llabs(correction) > 100) correction = 0;
    statsTimer_->SetInterval(
        static_cast<uint32_t>(std::max<int64_t>(statsInterval_ + correction, 1)));
    statsTimer_->SetLapTime(elapsed);
    lastTickRollTotal_ = rollTotal_;
}

// ---- Virtual speed and power --------------------------------------------------------------

void TVeloxDevice::ResetVirtualSpeed() {
    virtualDelta_ = 0;
    virtualDistanceIncrement_ = 0;
}

void TVeloxDevice::ComputeVirtualSpeed(long double x) {
    if (x == 0) {
        ResetVirtualSpeed();
        return;
    }
    const long double m = MassTerm();
    const long double p = virtualDelta_;
    const long double s = currentSlope_;
    const long double f1 = virtualSpeedAttenuation_ * std::fabs(s) * m / 100;
    const long double f2 = PowerModel(0, x) / x;
    const long double f3 = x + p != 0 ? PowerModel(0, x + p) / (x + p) : 0;
    const long double g = f2 + f1 - f3;
    const long double mass = m / 9.8L;
    long double delta = 0;
    if (s < 0)
        delta = RoundDecimals(precisionSpeed_, p + g / mass);
    else if (std::fabs(p) > tolerance_)
        delta = p - f3 * 2.5L / mass;
    virtualDelta_ = delta < 0 ? 0 : delta;
}

long double TVeloxDevice::PowerModel(long double slope, long double speed) const {
    if (speed <= 0) return 0;
    const bool km = unitMeasure_ == umKm;
    const long double d = km ? 0.00145L : 0.006L;
    const long double e = km ? 0.127L : 0.33L;
    const long double f = km ? -0.37L : -0.6L;
    const long double g = version_ == 5 ? (km ? 0.0189L : 0.014L) : (km ? 0.027L : 0.02L);
    const long double v = speed;
    const long double power = d * v * v * v + e * v * v + v * (g * MassTerm() * slope + f);
    return power < 0 ? 0 : power;
}

long double TVeloxDevice::PowerFromSpeed(long double speed) const {
    if (speed <= 0) return 0;
    const bool km = unitMeasure_ == umKm;
    const long double a = km ? 6.6666e-6L : 7.19597e-5L;
    const long double b = km ? -9.5833e-4L : -0.0064278114L;
    const long double c = km ? 0.0495L : 0.2063080778L;
    const long double d = km ? -0.84416L : -2.186244813L;
    const long double e = km ? 5.983L : 9.6284419L;
    const long double f = km ? 0.02722L : 0.019843731L;
    const long double v = speed;
    const long double v2 = v * v;
    const long double power = a * v2 * v2 * v + b * v2 * v2 + c * v2 * v + d * v2 +
                              v * (e + MassTerm() * f * currentSlope_);
    return power < 0 ? 0 : static_cast<long double>(RoundHalfEven(power));
}

// ---- Load --------------------------------------------------------------------------------

void TVeloxDevice::SendResistance() {
    const long double a = veloxResistance_ * highPowerCoefficient_;
    int r = 0;
    if (securityActive_) {
        r = speed_ == 0 ? 0 : ClampLoadByte(RoundHalfEven(a));
    } else {
        r = static_cast<int>(RoundHalfEven(a) & 0xFF);
    }
    long long e = veloxElevation_;
    if (version_ >= 4 && useElevation_) e = RoundHalfEven(currentSlope_ * 5.0L + 126);
    e = ClampLoadByte(e);
    if (heartCut_.Active()) r = e = 0;
    if (version_ >= 4 && !repairing_)
        SendBytes(BuildFrame(vcLoad, static_cast<uint8_t>(r), static_cast<uint8_t>(e)));
}

void TVeloxDevice::SetVeloxResistance(int32_t value) {
    if (securityActive_) value = speed_ == 0 ? 0 : ClampLoadByte(value);
    veloxResistance_ = value;
    if (!maintainsConsoleActive_) {
        try {
            SendResistance();
        } catch (const std::exception&) {
            // The next load carries it; a lost link shows in the survey.
        }
    }
}

void TVeloxDevice::SetInitialResistance(int32_t value) {
    value = ClampLoadByte(value);
    if (value == initialResistance_) return;
    initialResistance_ = value;
    SetVeloxResistance(value);
}

void TVeloxDevice::SetCurrentElevation(double metres) {
    if (metres == currentElevation_) return;
    currentElevation_ = metres;
    veloxElevation_ = RoundHalfEven(metres * 255 / 9999);
}

void TVeloxDevice::SetHighPowerCoefficient(double value) {
    if (value < highPowerReduceMinimum_) value = highPowerReduceMinimum_;
    highPowerCoefficient_ = value;
}

void TVeloxDevice::UpdateHighPower() {
    if (highPowerReduceEnable_) {
        long double u = instantSpeed_;
        if (virtualSpeedEnabled_ && !simulationMode_) u -= virtualDelta_;
        if (u < highPowerReduceStartSpeed_) {
            const double minimum = highPowerReduceMinimum_;
            SetHighPowerCoefficient(
                static_cast<double>(minimum + u * (1 - minimum) / highPowerReduceStartSpeed_));
            if (!maintainsConsoleActive_) SendResistance();
            return;
        }
    }
    SetHighPowerCoefficient(1);
}

// ---- Simulated and cleared measures -------------------------------------------------------

void TVeloxDevice::SimulateMeasures(int32_t heartRate, int32_t cadence, long double speed) {
    if (!simulationMode_) return;
    speed_ = speed;
    instantSpeed_ = speed;
    const long double increment = static_cast<long double>(
        RoundHalfEven(speed * (unitMeasure_ == umKm ? 1000 : 1609) / metresPerRollEvent_ / 3600));
    RollIncrement(increment);
    if (heartRate > 0) {
        beatSeen_ = true;
        heartRate_ = heartRate;
        heartSum_ += heartRate;
        ++heartCount_;
    }
    if (cadence > 0) {
        cadence_ = cadence;
        lastCadenceSampleTick_ = GetTickCount();
    }
}

void TVeloxDevice::ResetMeasures() {
    if (status_ != vdsRunning) {
        speed_ = realSpeed_ = instantSpeed_ = 0;
        ResetVirtualSpeed();
    }
    byteAccumulator_ = bytesCounted_ = 0;
    std::fill(cadences_.begin(), cadences_.end(), 0);
    std::fill(speeds_.begin(), speeds_.end(), 0);
    cadenceTotal_ = 0;
    receivedMessages_ = 0;
    rollTotal_ = rollIncrement_ = lastTickRollTotal_ = savedRollTotal_ = measuredSinceTotal_ = 0;
    lapRollCount_ = lapDistance_ = 0;
    distance_ = 0;
    caloriesTotal_ = 0;
    calories_ = 0;
    averageSpeed_ = maxSpeed_ = 0;
    averageHeartRate_ = maxHeartRate_ = 0;
    averageCadence_ = maxCadence_ = 0;
    power_ = 0;
    virtualDistanceIncrement_ = 0;
    currentSlope_ = 0;
    currentElevation_ = 0;
}

}  // namespace wct::wired
