// SPDX-License-Identifier: Apache-2.0
// The statistics step: the console's latest measures become the rider's statistics.
#include <algorithm>

#include "common/delay_with_messages.h"
#include "common/main_thread.h"
#include "common/round_decimals.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

// mm of roll diameter times revolutions times this gives km, or miles.
constexpr double kPi = 3.14;
constexpr double kMmPerKm = 1000000;
constexpr double kMmPerMile = 1609343.98;

// Clears the shared guard however the step ends.
class TStepGuard {
public:
    explicit TStepGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~TStepGuard() { flag_ = false; }
    TStepGuard(const TStepGuard&) = delete;
    TStepGuard& operator=(const TStepGuard&) = delete;

private:
    bool& flag_;
};

}  // namespace

void TVeloxDeviceW::StatsTick() {
    if (Destroying() || statsRunning_) return;
    TStepGuard guard(statsRunning_);

    const double previousSpeed = Speed();
    const bool hasEntry =
        wirelessUSB_ != nullptr && idConsole_ < wirelessUSB_->LastMeasure()->size();
    // A console that left, or that fell silent without leaving: its last measures are no
    // longer the rider's. Only a console that left can end the ride (WatchConnection).
    away_ = connected_ && wirelessUSB_ != nullptr &&
            (!wirelessUSB_->IsConsoleConnected(idConsole_) ||
             wirelessUSB_->IsConsoleSilent(idConsole_));
    std::optional<int32_t> heartReading;
    if (hasEntry && wirelessUSB_->IsConsoleConnected(idConsole_) && !away_)
        heartReading = ReadMeasures((*wirelessUSB_->LastMeasure())[idConsole_]);
    else if (away_)
        ShowConsoleAway();
    if (hasEntry) ReportKeys();
    ProcessHeartRate(heartReading);
    realSpeed_ = Speed();
    if (virtualSpeedEnabled_) VirtualSpeedStep();
    // A rider whose console is away burns nothing we could know of.
    if (!away_) caloriesAccumulator_ += CalorieIncrement(previousSpeed);
    SetCalories(RoundHalfEven(caloriesAccumulator_));
    SetPower(RoundHalfEven(PowerAtSpeed(Speed(), currentSlope_)));
    UpdateHighPowerReduction();
    SetMaxPower(std::max(MaxPower(), Power()));
    if (DistanceToPerform() > 0 && Distance() >= DistanceToPerform()) {
        Stop();
        SetCourseCompleted(true);
        SetArrived(true);
        DoCourseFinished();
    }
    WatchConnection();
    TNoxCustomDevice::StatsTick();
}

int32_t TVeloxDeviceW::ReadMeasures(const TMiraConsoleMeasure& measure) {
    ++sampleCount_;
    const double divisor = UOM() == umKm ? kMmPerKm : kMmPerMile;
    const double instant = measure.Rpm * 60.0 * rollDiameter_ * kPi / divisor;
    SetDistance(rollDiameter_ * measure.Revolutions * kPi / divisor);
    speedAverage_.Add(instant);
    SetSpeed(static_cast<double>(RoundDecimals(precisionSpeed_, speedAverage_.SampleMean())));
    const uint32_t elapsed = TimeElapsed();
    SetAverageSpeed(elapsed > 0 ? static_cast<double>(RoundDecimals(
                                      precisionSpeed_, Distance() / (elapsed / 3600000.0L)))
                                : 0);
    SetMaxSpeed(std::max(Speed(), MaxSpeed()));
    SetCadence(measure.Cadence);
    cadenceAverage_.Add(measure.Cadence);
    SetMaxCadence(std::max(MaxCadence(), AverageCadence()));
    cadenceSum_ += Cadence();
    SetAverageCadence(RoundHalfEven(static_cast<long double>(cadenceSum_) / sampleCount_));
    // A lost signal is no heart rate: the window starts afresh rather than averaging old
    // beats with zeros into rates no heart had.
    if (measure.HeartRate < THeartCut::kSignalFloor)
        heartAverage_.Clear();
    else
        heartAverage_.Add(measure.HeartRate);
    SetHeartRate(static_cast<int32_t>(heartAverage_.SampleMean()));
    return measure.HeartRate;
}

// The console's last measures stay in the table while it is away; they are not shown
// as the rider's, and the windows start again when it comes back.
void TVeloxDeviceW::ShowConsoleAway() {
    speedAverage_.Clear();
    cadenceAverage_.Clear();
    heartAverage_.Clear();
    SetSpeed(0);
    SetCadence(0);
    SetHeartRate(0);
}

// One key per measure, the first of +, -, E, T whose bit is set; the byte is consumed
// only when someone listens.
void TVeloxDeviceW::ReportKeys() {
    const uint8_t keys = (*wirelessUSB_->LastMeasure())[idConsole_].Keys;
    if (keys == 0 || !OnConsoleKeyDown) return;
    constexpr struct {
        uint8_t bit;
        TConsoleKey key;
    } kKeys[] = {{4, ckPlus}, {1, ckMinus}, {8, ckE}, {2, ckT}};
    for (const auto& k : kKeys) {
        if ((keys & k.bit) != 0) {
            OnConsoleKeyDown(this, k.key);
            break;
        }
    }
    // By index again: a handler that runs the event loop may have grown the table.
    (*wirelessUSB_->LastMeasure())[idConsole_].Keys = 0;
}

void TVeloxDeviceW::ProcessHeartRate(std::optional<int32_t> reading) {
    if (!heartEnabled_) {
        SetHeartRate(0);
        SetAverageHeartRate(0);
        // The operator turned the processing off, not the rider's heart: a cut in force
        // holds until a real reading ends it.
        if (reading && HeartCut()) JudgeHeart(*reading);
        return;
    }
    const bool active = HeartRate() >= THeartCut::kSignalFloor;
    if (active != heartConnectionActive_) {
        heartConnectionActive_ = active;
        if (!active) {
            SetHeartRate(0);
            SetAverageHeartRate(0);
        }
    }
    // The load goes before the alarm, and whatever the alarm limits are.
    if (reading) JudgeHeart(*reading);
    if (heartConnectionActive_) HeartAlarm();
}

void TVeloxDeviceW::HeartAlarm() {
    const int32_t hr = HeartRate();
    const int32_t high = AlarmHeartHighLimit();
    const int32_t low = AlarmHeartLowLimit();
    if (hr >= high || hr <= low) {
        const bool isHigher = hr >= high;
        bool doStop = true;
        // A limit of 0 or less gives no percentage to compute.
        int percent = 0;
        if (low > 0) {
            percent = isHigher ? RoundHalfEven((hr - high) / static_cast<long double>(high) * 100)
                               : RoundHalfEven((low - hr) / static_cast<long double>(low) * 100);
        }
        DoAlarmHeart(percent, isHigher, false, doStop);
    }
    SetMaxHeartRate(std::max(MaxHeartRate(), hr));
    ++heartSampleCount_;
    heartSum_ += hr;
    if (heartSampleCount_ >= 1 && heartSum_ >= 1)
        SetAverageHeartRate(RoundHalfEven(static_cast<long double>(heartSum_) / heartSampleCount_));
}

void TVeloxDeviceW::WatchConnection() {
    if (wirelessUSB_ == nullptr || wirelessUSB_->Consoles().empty()) return;
    const bool connected = wirelessUSB_->IsConsoleConnected(idConsole_);
    if (recovering_) {
        MainThread().ProcessMessages();
        const bool back = wirelessUSB_->IsConsoleConnected(idConsole_);
        if (recoveryCountdown_ == 0 || back) {
            recoveryCountdown_ = -1;
            wirelessUSB_->CloseRegistration();
            recovering_ = false;
            if (!back) LoseConsole();
        } else {
            --recoveryCountdown_;
        }
    } else if (!connected) {
        if (recoverConnection_) {
            recoveryCountdown_ = std::max(recoverConnectionTime_, 0);
            wirelessUSB_->OpenRegistration();
            DelayWithMessages(400);
            recovering_ = true;
        } else {
            LoseConsole();
        }
    }
}

void TVeloxDeviceW::LoseConsole() {
    away_ = false;
    ReleaseHeartGuard();
    Stop();
    connected_ = false;
    DoDisconnected();
}

}  // namespace wct
