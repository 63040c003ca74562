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
    p.AddString(
        "RiderName", [this] { return riderName_; },
        [this](const std::string& v) { SetRiderName(v); }, "");
    p.AddInteger(
        "RiderId", [this] { return riderId_; },
        [this](int64_t v) { SetRiderId(static_cast<int32_t>(v)); }, -1);
    p.AddString(
        "LastName", [this] { return lastName_; }, [this](const std::string& v) { SetLastName(v); },
        "");
    p.AddString(
        "FirstName", [this] { return firstName_; },
        [this](const std::string& v) { SetFirstName(v); }, "");
    p.AddFloat(
        "BirthDate", [this] { return birthDate_; }, [this](double v) { SetBirthDate(v); },
        std::nullopt);
    p.AddInteger(
        "RiderWeight", [this] { return riderWeight_; },
        [this](int64_t v) { SetRiderWeight(static_cast<int32_t>(v)); }, std::nullopt);
    p.AddEnum(
        "UOM", kUnitNames, [this] { return static_cast<int>(uom_); },
        [this](int v) { SetUOM(static_cast<TUnitMeasure>(v)); }, std::nullopt);
    p.AddString(
        "Photo", [this] { return photo_; }, [this](const std::string& v) { SetPhoto(v); }, "");
    p.AddInteger(
        "Color", [this] { return color_; },
        [this](int64_t v) { SetColor(static_cast<int32_t>(v)); }, std::nullopt);
    p.AddInteger(
        "HeartMaxLimit", [this] { return heartMaxLimit_; },
        [this](int64_t v) { SetHeartMaxLimit(static_cast<int32_t>(v)); }, 220);
    p.AddInteger(
        "HeartUpperLimit", [this] { return heartUpperLimit_; },
        [this](int64_t v) { SetHeartUpperLimit(static_cast<int32_t>(v)); }, 0);
    p.AddInteger(
        "HeartLowerLimit", [this] { return heartLowerLimit_; },
        [this](int64_t v) { SetHeartLowerLimit(static_cast<int32_t>(v)); }, 0);
    p.AddBoolean(
        "SimulationMode", [this] { return SimulationMode(); },
        [this](bool v) { SetSimulationMode(v); }, false);
    p.AddFloat(
        "DistanceToPerform", [this] { return distanceToPerform_; },
        [this](double v) { SetDistanceToPerform(v); }, std::nullopt);
    p.AddFloat(
        "BikeWeight", [this] { return bikeWeight_; }, [this](double v) { SetBikeWeight(v); },
        std::nullopt);
    p.AddBoolean(
        "TimerStatsEnabled", [this] { return TimerStatsEnabled(); },
        [this](bool v) { SetTimerStatsEnabled(v); }, std::nullopt);
    p.AddInteger(
        "TimerStatsInterval", [this] { return TimerStatsInterval(); },
        [this](int64_t v) { SetTimerStatsInterval(static_cast<uint32_t>(v)); }, std::nullopt);
    p.AddEnum(
        "TimerStatsThreadPriority", kPriorityNames,
        [this] { return static_cast<int>(TimerStatsThreadPriority()); },
        [this](int v) { SetTimerStatsThreadPriority(static_cast<TThreadPriority>(v)); },
        std::nullopt);
    // The declared default (50) is not the value a new device has (100), so 100 is
    // always written and a stored 50 is not.
    p.AddInteger(
        "TimeToleranceMs", [this] { return timeToleranceMs_; },
        [this](int64_t v) { SetTimeToleranceMs(static_cast<uint32_t>(v)); }, 50);
    p.AddInteger(
        "AlarmHeartHighLimit", [this] { return alarmHeartHighLimit_; },
        [this](int64_t v) { SetAlarmHeartHighLimit(static_cast<int32_t>(v)); }, 210);
    p.AddInteger(
        "AlarmHeartLowLimit", [this] { return alarmHeartLowLimit_; },
        [this](int64_t v) { SetAlarmHeartLowLimit(static_cast<int32_t>(v)); }, 35);
    p.AddInteger(
        "AlarmHeartMaxLimit", [this] { return alarmHeartMaxLimit_; },
        [this](int64_t v) { SetAlarmHeartMaxLimit(static_cast<int32_t>(v)); }, 220);
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
