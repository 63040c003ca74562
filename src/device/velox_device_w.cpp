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
    SetTimerStatsEnabled(false);
    TimerStats().OnTimer = nullptr;
}

void TVeloxDeviceW::DefineProperties(TPropertyList& p) {
    TNoxCustomDevice::DefineProperties(p);
    auto integer = [&p](const char* name, int32_t& field, std::optional<int64_t> def,
                        std::function<void(int32_t)> set) {
        p.AddInteger(
            name, [&field] { return field; }, [set](int64_t v) { set(static_cast<int32_t>(v)); },
            def);
    };
    auto real = [&p](const char* name, double& field, std::optional<double> def,
                     std::function<void(double)> set) {
        p.AddFloat(
            name, [&field] { return field; }, set, def);
    };
    auto boolean = [&p](const char* name, bool& field, std::optional<bool> def,
                        std::function<void(bool)> set) {
        p.AddBoolean(
            name, [&field] { return field; }, set, def);
    };
    integer("HrArrayLength", hrArrayLength_, 5, [this](int32_t v) { SetHrArrayLength(v); });
    boolean("HeartEnabled", heartEnabled_, true, [this](bool v) { SetHeartEnabled(v); });
    boolean("HeartConnectionActive", heartConnectionActive_, true,
            [this](bool v) { SetHeartConnectionActive(v); });
    integer("CadenceArrayLength", cadenceArrayLength_, 1,
            [this](int32_t v) { SetCadenceArrayLength(v); });
    integer("SpeedArrayLength", speedArrayLength_, 3,
            [this](int32_t v) { SetSpeedArrayLength(v); });
    real("RollDiameter", rollDiameter_, std::nullopt, [this](double v) { SetRollDiameter(v); });
    boolean("Connected", connected_, false, [this](bool v) { SetConnected(v); });
    integer("InitialResistance", initialResistance_, std::nullopt,
            [this](int32_t v) { SetInitialResistance(v); });
    integer("VeloxResistance", veloxResistance_, 0, [this](int32_t v) { SetVeloxResistance(v); });
    integer("VeloxElevation", veloxElevation_, 0, [this](int32_t v) { SetVeloxElevation(v); });
    // Declared default true while a new device has false: false is always written.
    boolean("SecurityActive", securityActive_, true, [this](bool v) { SetSecurityActive(v); });
    real("HighPowerReduceCoefficient", highPowerReduceCoefficient_, std::nullopt,
         [this](double v) { SetHighPowerReduceCoefficient(v); });
    boolean("HighPowerReduceEnable", highPowerReduceEnable_, false,
            [this](bool v) { SetHighPowerReduceEnable(v); });
    real("HighPowerReduceStartSpeed", highPowerReduceStartSpeed_, std::nullopt,
         [this](double v) { SetHighPowerReduceStartSpeed(v); });
    real("HighPowerReduceCoefficientMinimum", highPowerReduceMinimum_, std::nullopt,
         [this](double v) { SetHighPowerReduceCoefficientMinimum(v); });
    integer("ResistanceLatency", resistanceLatency_, 0,
            [this](int32_t v) { SetResistanceLatency(v); });
    real("ResistanceReducer", resistanceReducer_, std::nullopt,
         [this](double v) { SetResistanceReducer(v); });
    real("CurrentSlope", currentSlope_, std::nullopt, [this](double v) { SetCurrentSlope(v); });
    integer("CurrentElevation", currentElevation_, 0,
            [this](int32_t v) { SetCurrentElevation(v); });
    // Declared default 1 while a new device has 8: 8 is always written.
    integer("PrecisionSpeed", precisionSpeed_, 1, [this](int32_t v) { SetPrecisionSpeed(v); });
    integer("PrecisionDistance", precisionDistance_, std::nullopt,
            [this](int32_t v) { SetPrecisionDistance(v); });
    real("Tolerance", tolerance_, std::nullopt, [this](double v) { SetTolerance(v); });
    real("RealSpeed", realSpeed_, std::nullopt, [this](double v) { SetRealSpeed(v); });
    real("ResistanceMapAdapter", resistanceMapAdapter_, std::nullopt,
         [this](double v) { SetResistanceMapAdapter(v); });
    boolean("VirtualSpeedEnabled", virtualSpeedEnabled_, std::nullopt,
            [this](bool v) { SetVirtualSpeedEnabled(v); });
    real("VirtualSpeedAttenuation", virtualSpeedAttenuation_, std::nullopt,
         [this](double v) { SetVirtualSpeedAttenuation(v); });
    real("InstantSpeed", instantSpeed_, std::nullopt, [this](double v) { SetInstantSpeed(v); });
    integer("PowerToShow", powerToShow_, 0, [this](int32_t v) { SetPowerToShow(v); });
    real("Calibration", calibration_, std::nullopt, [this](double v) { SetCalibration(v); });
    boolean("RecoverConnection", recoverConnection_, false,
            [this](bool v) { SetRecoverConnection(v); });
    integer("RecoverConnectionTime", recoverConnectionTime_, 60,
            [this](int32_t v) { SetRecoverConnectionTime(v); });
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
    heartCut_ = false;
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
