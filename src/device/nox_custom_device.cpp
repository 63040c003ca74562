// SPDX-License-Identifier: Apache-2.0
#include "device/nox_custom_device.h"

#include <array>

namespace wct {

const char* CompetitorStateName(TCompetitorState state) {
    switch (state) {
        case csUnknown:
            return "csUnknown";
        case csConnected:
            return "csConnected";
        case csReadyToStart:
            return "csReadyToStart";
        case csStarted:
            return "csStarted";
        case csPaused:
            return "csPaused";
        case csStopped:
            return "csStopped";
    }
    return nullptr;
}
namespace {

constexpr std::array<const char*, 2> kUnitNames = {"umKm", "umMiles"};
constexpr std::array<const char*, 7> kPriorityNames = {
    "tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest", "tpTimeCritical"};

}  // namespace

TNoxCustomDevice::TNoxCustomDevice(TComponent* owner)
    : TComponent(owner), timer_(new TNoxTimer(this)) {
    ClearRider();
    // A derived device's step runs: the call is virtual.
    timer_->OnTimer = [this](TComponent*) { StatsTick(); };
}

TNoxCustomDevice::~TNoxCustomDevice() {
    timer_->SetEnabled(false);
    timer_->OnTimer = nullptr;
    BeginDestruction();
}

void TNoxCustomDevice::DefineProperties(TPropertyList& p) {
    using C = TNoxCustomDevice;
    p.Bind("RiderName", this, &C::riderName_, &C::SetRiderName, "");
    p.Bind("RiderId", this, &C::riderId_, &C::SetRiderId, -1);
    p.Bind("LastName", this, &C::lastName_, &C::SetLastName, "");
    p.Bind("FirstName", this, &C::firstName_, &C::SetFirstName, "");
    p.Bind("BirthDate", this, &C::birthDate_, &C::SetBirthDate, std::nullopt);
    p.Bind("RiderWeight", this, &C::riderWeight_, &C::SetRiderWeight, std::nullopt);
    p.BindEnum("UOM", kUnitNames, this, &C::uom_, &C::SetUOM, std::nullopt);
    p.Bind("Photo", this, &C::photo_, &C::SetPhoto, "");
    p.Bind("Color", this, &C::color_, &C::SetColor, std::nullopt);
    p.Bind("HeartMaxLimit", this, &C::heartMaxLimit_, &C::SetHeartMaxLimit, 220);
    p.Bind("HeartUpperLimit", this, &C::heartUpperLimit_, &C::SetHeartUpperLimit, 0);
    p.Bind("HeartLowerLimit", this, &C::heartLowerLimit_, &C::SetHeartLowerLimit, 0);
    p.Bind("SimulationMode", this, &C::SimulationMode, &C::SetSimulationMode, false);
    p.Bind("DistanceToPerform", this, &C::distanceToPerform_, &C::SetDistanceToPerform,
           std::nullopt);
    p.Bind("BikeWeight", this, &C::bikeWeight_, &C::SetBikeWeight, std::nullopt);
    p.Bind("TimerStatsEnabled", this, &C::TimerStatsEnabled, &C::SetTimerStatsEnabled,
           std::nullopt);
    p.Bind("TimerStatsInterval", this, &C::TimerStatsInterval, &C::SetTimerStatsInterval,
           std::nullopt);
    p.BindEnum("TimerStatsThreadPriority", kPriorityNames, this, &C::TimerStatsThreadPriority,
               &C::SetTimerStatsThreadPriority, std::nullopt);
    // The declared default (50) is not the value a new device has (100), so 100 is
    // always written and a stored 50 is not.
    p.Bind("TimeToleranceMs", this, &C::timeToleranceMs_, &C::SetTimeToleranceMs, 50);
    p.Bind("AlarmHeartHighLimit", this, &C::alarmHeartHighLimit_, &C::SetAlarmHeartHighLimit, 210);
    p.Bind("AlarmHeartLowLimit", this, &C::alarmHeartLowLimit_, &C::SetAlarmHeartLowLimit, 35);
    p.Bind("AlarmHeartMaxLimit", this, &C::alarmHeartMaxLimit_, &C::SetAlarmHeartMaxLimit, 220);
}

bool TNoxCustomDevice::IsWithinTolerance(uint32_t a, uint32_t b) const {
    return a - b <= timeToleranceMs_;
}

void TNoxCustomDevice::SetCompetitorState(TCompetitorState value) {
    if (value == competitorState_) return;
    const TCompetitorState old = competitorState_;
    competitorState_ = value;
    DoCompetitorStateChanged(old, value);
}

void TNoxCustomDevice::StatsTick() {
    if (OnStats) OnStats(this);
}

bool TNoxCustomDevice::Connect() {
    isConnected_ = true;
    DoConnected();
    return true;
}

bool TNoxCustomDevice::Disconnect() {
    isConnected_ = false;
    DoDisconnected();
    return true;
}

void TNoxCustomDevice::SetSimulatedMeasures(int32_t heartRate, int32_t cadence,
                                            int32_t /*intervalMs*/, double distance, double speed) {
    SetSpeed(speed);
    SetDistance(distance);
    SetHeartRate(heartRate);
    SetCadence(cadence);
}

void TNoxCustomDevice::ClearRider() {
    SetRiderName("");
    SetDeviceActive(false);
    SetSpeed(0);
    isConnected_ = false;
    SetRiderId(-1);
    SetUOM(umKm);
}

void TNoxCustomDevice::ResetStats() {
    if (SimulationMode()) SetSimulatedMeasures(0, 0, 1000, 0, 0);
    SetSpeed(0);
    SetAverageSpeed(0);
    SetCadence(0);
    SetAverageCadence(0);
    SetMaxCadence(0);
    SetHeartRate(0);
    SetMaxHeartRate(0);
    SetAverageHeartRate(0);
    power_ = 0;
    SetExtraStat1(0);
    SetExtraStat3(0);
    SetExtraStat2(0);
    SetArrived(false);
    SetCourseCompleted(false);
    SetCalories(0);
    SetDistance(0);
    SetStatsMarker(-1);
}

void TNoxCustomDevice::DoConnected() {
    if (OnConnected) OnConnected(this);
}
void TNoxCustomDevice::DoDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}
void TNoxCustomDevice::DoConnectionLost() {
    if (OnConnectionLost) OnConnectionLost(this);
}
void TNoxCustomDevice::DoCourseFinished() {
    if (OnCourseFinished) OnCourseFinished(this);
}
void TNoxCustomDevice::DoAfterStop() {
    if (OnAfterStop) OnAfterStop(this);
}
void TNoxCustomDevice::DoBeforePause() {
    if (OnBeforePause) OnBeforePause(this);
}
void TNoxCustomDevice::DoBeforeStart() {
    if (OnBeforeStart) OnBeforeStart(this);
}
void TNoxCustomDevice::DoBeforeStop(bool& canContinue) {
    if (OnBeforeStop) OnBeforeStop(this, canContinue);
}
void TNoxCustomDevice::DoHeartConnectionLost() {
    if (OnHeartConnectionLost) OnHeartConnectionLost(this);
}
void TNoxCustomDevice::DoCompetitorStateChanged(TCompetitorState oldState,
                                                TCompetitorState newState) {
    if (OnCompetitorStateChanged) OnCompetitorStateChanged(this, oldState, newState);
}
void TNoxCustomDevice::DoHeartCriticalValue() {
    if (OnHeartCriticalValue) OnHeartCriticalValue(this);
}
void TNoxCustomDevice::DoAlarmHeart(int percentDelta, bool isHigherLimit, bool abortedByComponent,
                                    bool& doStop) {
    if (OnAlarmHeart) OnAlarmHeart(this, percentDelta, isHigherLimit, abortedByComponent, doStop);
}

}  // namespace wct
