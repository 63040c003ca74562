// SPDX-License-Identifier: Apache-2.0
// Construction, stored properties, links, and the ride's life: connect, start, pause,
// stop, disconnect.
#include "device/velox_device_w.h"

#include "common/delay_with_messages.h"
#include "common/tick_count.h"

namespace wct {

bool TVeloxDeviceW::statsRunning_ = false;

TVeloxDeviceW::TVeloxDeviceW(TComponent* owner) : TNoxCustomDevice(owner) {
    SetDistance(0);
    SetVeloxResistance(0);
    SetCompetitorState(csStopped);
    heartAverage_.SetLength(5);
    cadenceAverage_.SetLength(1);
    speedAverage_.SetLength(3);
    SetDeviceActive(true);
}

TVeloxDeviceW::~TVeloxDeviceW() {
    ReleaseHeartGuard();
    SetTimerStatsEnabled(false);
    TimerStats().OnTimer = nullptr;
}

void TVeloxDeviceW::DefineProperties(TPropertyList& p) {
    TNoxCustomDevice::DefineProperties(p);
    // On purpose, as stored files expect: SecurityActive (declared True, a new device False),
    // PrecisionSpeed (1, new 8) and RecoverConnectionTime (60, new 0) differ from the starting
    // value, so the starting value is always written and a stored default is not.
    using C = TVeloxDeviceW;
    p.Bind("HrArrayLength", this, &C::hrArrayLength_, &C::SetHrArrayLength, 5);
    p.Bind("HeartEnabled", this, &C::heartEnabled_, &C::SetHeartEnabled, true);
    p.Bind("HeartConnectionActive", this, &C::heartConnectionActive_, &C::SetHeartConnectionActive,
           true);
    p.Bind("CadenceArrayLength", this, &C::cadenceArrayLength_, &C::SetCadenceArrayLength, 1);
    p.Bind("SpeedArrayLength", this, &C::speedArrayLength_, &C::SetSpeedArrayLength, 3);
    p.Bind("RollDiameter", this, &C::rollDiameter_, &C::SetRollDiameter, std::nullopt);
    p.Bind("Connected", this, &C::connected_, &C::SetConnected, false);
    p.Bind("InitialResistance", this, &C::initialResistance_, &C::SetInitialResistance,
           std::nullopt);
    p.Bind("VeloxResistance", this, &C::veloxResistance_, &C::SetVeloxResistance, 0);
    p.Bind("VeloxElevation", this, &C::veloxElevation_, &C::SetVeloxElevation, 0);
    p.Bind("SecurityActive", this, &C::securityActive_, &C::SetSecurityActive, true);
    p.Bind("HighPowerReduceCoefficient", this, &C::highPowerReduceCoefficient_,
           &C::SetHighPowerReduceCoefficient, std::nullopt);
    p.Bind("HighPowerReduceEnable", this, &C::highPowerReduceEnable_, &C::SetHighPowerReduceEnable,
           false);
    p.Bind("HighPowerReduceStartSpeed", this, &C::highPowerReduceStartSpeed_,
           &C::SetHighPowerReduceStartSpeed, std::nullopt);
    p.Bind("HighPowerReduceCoefficientMinimum", this, &C::highPowerReduceMinimum_,
           &C::SetHighPowerReduceCoefficientMinimum, std::nullopt);
    p.Bind("ResistanceLatency", this, &C::resistanceLatency_, &C::SetResistanceLatency, 0);
    p.Bind("ResistanceReducer", this, &C::resistanceReducer_, &C::SetResistanceReducer,
           std::nullopt);
    p.Bind("CurrentSlope", this, &C::currentSlope_, &C::SetCurrentSlope, std::nullopt);
    p.Bind("CurrentElevation", this, &C::currentElevation_, &C::SetCurrentElevation, 0);
    p.Bind("PrecisionSpeed", this, &C::precisionSpeed_, &C::SetPrecisionSpeed, 1);
    p.Bind("PrecisionDistance", this, &C::precisionDistance_, &C::SetPrecisionDistance,
           std::nullopt);
    p.Bind("Tolerance", this, &C::tolerance_, &C::SetTolerance, std::nullopt);
    p.Bind("RealSpeed", this, &C::realSpeed_, &C::SetRealSpeed, std::nullopt);
    p.Bind("ResistanceMapAdapter", this, &C::resistanceMapAdapter_, &C::SetResistanceMapAdapter,
           std::nullopt);
    p.Bind("VirtualSpeedEnabled", this, &C::virtualSpeedEnabled_, &C::SetVirtualSpeedEnabled,
           std::nullopt);
    p.Bind("VirtualSpeedAttenuation", this, &C::virtualSpeedAttenuation_,
           &C::SetVirtualSpeedAttenuation, std::nullopt);
    p.Bind("InstantSpeed", this, &C::instantSpeed_, &C::SetInstantSpeed, std::nullopt);
    p.Bind("PowerToShow", this, &C::powerToShow_, &C::SetPowerToShow, 0);
    p.Bind("Calibration", this, &C::calibration_, &C::SetCalibration, std::nullopt);
    p.Bind("RecoverConnection", this, &C::recoverConnection_, &C::SetRecoverConnection, false);
    p.Bind("RecoverConnectionTime", this, &C::recoverConnectionTime_, &C::SetRecoverConnectionTime,
           60);
}

void TVeloxDeviceW::Notification(TComponent* component, TOperation operation) {
    TNoxCustomDevice::Notification(component, operation);
    if (operation != TOperation::opRemove) return;
    if (component == wirelessUSB_) wirelessUSB_ = nullptr;
    if (component == resistanceMap_) resistanceMap_ = nullptr;
    if (component == mapCalibration_) mapCalibration_ = nullptr;
}

namespace {

// Points `link` at `value`, asking for the new component's destruction notice.
template <typename T>
void Relink(TComponent& self, T*& link, T* value) {
    if (link == value) return;
    if (link != nullptr) link->RemoveFreeNotification(&self);
    link = value;
    if (link != nullptr) link->FreeNotification(&self);
}

}  // namespace

void TVeloxDeviceW::SetWirelessUSB(TMiraWirelessProtocol* value) {
    if (value != wirelessUSB_) ReleaseHeartGuard();
    Relink(*this, wirelessUSB_, value);
}

void TVeloxDeviceW::SetResistanceMap(TResistanceMap* value) {
    Relink(*this, resistanceMap_, value);
}

void TVeloxDeviceW::SetMapCalibration(TMapCalibration* value) {
    Relink(*this, mapCalibration_, value);
}

void TVeloxDeviceW::SetTrainerVersion(double version) {
    if (version <= 4 || version > 7) version = 4.5;
    veloxVersion_ = version;
    if (version == 4.5)
        rollDiameter_ = 39.5;
    else if (version == 5)
        rollDiameter_ = 45;
    else if (version == 6)
        rollDiameter_ = 40;
    else if (version == 7)
        rollDiameter_ = 30;
    if (OnVersionChange) OnVersionChange(this);
}

bool TVeloxDeviceW::Connect() {
    if (connected_) return true;
    TNoxCustomDevice::Connect();
    ReleaseHeartGuard();
    idConsole_ = 0;
    int version = -1;
    int serial = -1;
    if (wirelessUSB_ != nullptr) {
        if (!wirelessUSB_->Opened()) {
            wirelessUSB_->OpenRegistration();
            DelayWithMessages(300);
        }
        idConsole_ = wirelessUSB_->FindConsole(version, serial);
    }
    connected_ = idConsole_ != 0;
    SetTrainerVersion(version);
    serialNumber_ = serial;
    return connected_;
}

bool TVeloxDeviceW::Disconnect() {
    TNoxCustomDevice::Disconnect();
    if (connected_ && idConsole_ != 0 && wirelessUSB_ != nullptr) {
        if (wirelessUSB_->Opened()) {
            wirelessUSB_->CloseRegistration();
            DelayWithMessages(300);
        }
        wirelessUSB_->RemoveConsole(idConsole_);
        ReleaseHeartGuard();
        DelayWithMessages(1000);
        connected_ = false;
    }
    return false;
}

bool TVeloxDeviceW::Start() {
    if (CompetitorState() == csStarted) return false;
    DoBeforeStart();
    SetTimerStatsEnabled(false);
    const TCompetitorState old = CompetitorState();
    if (old == csPaused) {
        startTick_ += GetTickCount() - pauseTick_;
    } else {
        startTick_ = GetTickCount();
        pauseTick_ = 0;
        cadenceSum_ = 0;
        sampleCount_ = 0;
        SetDistance(0);
        SetMaxHeartRate(0);
        SetMaxSpeed(0);
        SetMaxCadence(0);
        SetMaxPower(0);
        recoveryCountdown_ = -1;
        recovering_ = false;
    }
    if (wirelessUSB_ != nullptr) {
        wirelessUSB_->StartAllRolls();
        wirelessUSB_->StartRoll(idConsole_);
    }
    if (old == csStopped) {
        ResetStats();
        ClearRide();
        TimerStats().ResetTimes();
    }
    away_ = false;
    DoBeforeStart();
    SetCourseCompleted(false);
    SetArrived(false);
    SetVeloxResistance(initialResistance_);
    SetTimerStatsEnabled(true);
    SetCompetitorState(csStarted);
    DoCompetitorStateChanged(old, CompetitorState());
    return true;
}

bool TVeloxDeviceW::Stop() {
    bool canContinue = true;
    DoBeforeStop(canContinue);
    if (!canContinue) return false;
    away_ = false;
    SetVeloxResistance(initialResistance_);
    SetTimerStatsEnabled(false);
    const TCompetitorState old = CompetitorState();
    SetCompetitorState(csStopped);
    if (wirelessUSB_ != nullptr) wirelessUSB_->StopAllRolls();
    DoCompetitorStateChanged(old, CompetitorState());
    DoAfterStop();
    return true;
}

// What ResetStats leaves to the derived device: a new ride owes nothing to the last one.
void TVeloxDeviceW::ClearRide() {
    caloriesAccumulator_ = 0;
    SetCalories(0);
    heartSampleCount_ = 0;
    heartSum_ = 0;
    speedAverage_.Clear();
    cadenceAverage_.Clear();
    heartAverage_.Clear();
    ResetVirtualSpeed();
}

bool TVeloxDeviceW::Pause() {
    DoBeforePause();
    pauseTick_ = GetTickCount();
    DoBeforePause();
    SetTimerStatsEnabled(false);
    const TCompetitorState old = CompetitorState();
    SetCompetitorState(csPaused);
    if (wirelessUSB_ != nullptr) wirelessUSB_->PauseAllRolls();
    DoCompetitorStateChanged(old, CompetitorState());
    return true;
}

}  // namespace wct
