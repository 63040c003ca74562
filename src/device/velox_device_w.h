// SPDX-License-Identifier: Apache-2.0
// TVeloxDeviceW: the rider device of a trainer whose console talks through the wireless
// protocol.
//
// It binds itself to one console of a TMiraWirelessProtocol (WirelessUSB) and, on every
// tick of its statistics timer, turns that console's latest measures into the rider's
// speed, distance, cadence, heart rate, averages, maxima, calories and power; raises the
// heart alarm and the console-key events; watches the console's radio link and tries to
// win it back; and ends the course at the set distance. The ride model (power at a speed
// on a slope, calories, the virtual speed of a downhill, the high-power reduction) and
// the resistance output with its limits live here too, as does the resistance lookup
// over a TResistanceMap.
//
// Main thread only. Connect, Disconnect, Start, Stop and a statistics step that recovers
// a lost console wait with the event loop running, so handlers run nested inside them;
// one guard shared by every device keeps a second device's step from running inside a
// first one's (that step is skipped for the tick).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/map_calibration.h"
#include "device/nox_custom_device.h"
#include "device/resistance_map.h"
#include "protocol/mira_average.h"
#include "protocol/wireless_protocol.h"

namespace wct {

class TVeloxDeviceW : public TNoxCustomDevice {
public:
    explicit TVeloxDeviceW(TComponent* owner = nullptr);
    ~TVeloxDeviceW() override;
    std::string ClassName() const override { return "TVeloxDeviceW"; }
    void DefineProperties(TPropertyList& properties) override;

    // ---- Links to other components (not owned) ----
    TMiraWirelessProtocol* WirelessUSB() const { return wirelessUSB_; }
    void SetWirelessUSB(TMiraWirelessProtocol* value);
    TResistanceMap* ResistanceMap() const { return resistanceMap_; }
    void SetResistanceMap(TResistanceMap* value);
    TMapCalibration* MapCalibration() const { return mapCalibration_; }
    void SetMapCalibration(TMapCalibration* value);

    // ---- Console and trainer ----
    virtual std::string Version() const { return "1.0.0.3"; }
    virtual void SetVersion(const std::string& /*value*/) {}
    uint8_t IDConsole() const { return idConsole_; }
    int32_t SerialNumber() const { return serialNumber_; }
    bool Connected() const { return connected_; }
    void SetConnected(bool value) { connected_ = value; }
    double VeloxVersion() const { return veloxVersion_; }
    // The version a console reports: below or at 4 and above 7 it stands for 4.5. Sets
    // the roll diameter that goes with it and fires OnVersionChange.
    void SetTrainerVersion(double version);
    double RollDiameter() const { return rollDiameter_; }  // mm
    void SetRollDiameter(double value) { rollDiameter_ = value; }
    // ms of statistics steps since the start, counted by interval.
    uint32_t TimeElapsed() { return TimerStats().NominalElapsed(); }

    // ---- Measure processing ----
    int32_t HrArrayLength() const { return hrArrayLength_; }
    // The three window lengths are stored only: the windows keep the size they got at
    // construction (5, 1 and 3).
    void SetHrArrayLength(int32_t value) { hrArrayLength_ = value; }
    int32_t CadenceArrayLength() const { return cadenceArrayLength_; }
    void SetCadenceArrayLength(int32_t value) { cadenceArrayLength_ = value; }
    int32_t SpeedArrayLength() const { return speedArrayLength_; }
    void SetSpeedArrayLength(int32_t value) { speedArrayLength_ = value; }
    bool HeartEnabled() const { return heartEnabled_; }
    void SetHeartEnabled(bool value) { heartEnabled_ = value; }
    bool HeartConnectionActive() const { return heartConnectionActive_; }
    void SetHeartConnectionActive(bool value) { heartConnectionActive_ = value; }
    int32_t PrecisionSpeed() const { return precisionSpeed_; }
    void SetPrecisionSpeed(int32_t value) { precisionSpeed_ = value; }
    int32_t PrecisionDistance() const { return precisionDistance_; }
    void SetPrecisionDistance(int32_t value) { precisionDistance_ = value; }
    double RealSpeed() const { return realSpeed_; }
    void SetRealSpeed(double value) { realSpeed_ = value; }
    // Input of the high-power reduction; the device never writes it.
    double InstantSpeed() const { return instantSpeed_; }
    void SetInstantSpeed(double value) { instantSpeed_ = value; }
    bool RecoverConnection() const { return recoverConnection_; }
    void SetRecoverConnection(bool value) { recoverConnection_ = value; }
    // Statistics steps to wait for a lost console.
    int32_t RecoverConnectionTime() const { return recoverConnectionTime_; }
    void SetRecoverConnectionTime(int32_t value) { recoverConnectionTime_ = value; }

    // ---- Resistance ----
    int32_t VeloxResistance() const { return veloxResistance_; }
    // Clamps to 0..255 (240 and 247 step one down), zero while the roll stands still
    // with SecurityActive, then applies the high-power reduction; hands the result to
    // the protocol for the periodic resistance sending in every case. A request equal to
    // the stored (already reduced) level changes nothing. During a heart cut the level is
    // 0; while the ride's console is away the brake keeps its level.
    void SetVeloxResistance(int32_t value);
    int32_t InitialResistance() const { return initialResistance_; }
    void SetInitialResistance(int32_t value);
    bool SecurityActive() const { return securityActive_; }
    void SetSecurityActive(bool value) { securityActive_ = value; }
    int32_t VeloxElevation() const { return veloxElevation_; }
    // Held at 0 during a heart cut.
    void SetVeloxElevation(int32_t value);
    // True from the step whose heart reading is above AlarmHeartMaxLimit until the heart
    // window holds only real readings at or below the limit less the hysteresis; a lost
    // signal (readings below 35) keeps it. The protocol's brake interlock holds the
    // console's level at 0 meanwhile, whoever asks for a level; the device shows 0 and
    // keeps the last request, applied when the cut ends.
    bool HeartCut() const;
    // The rule that judges the rider's heart at the interlock, with the texts of its last
    // change; null before the first reading.
    const THeartCut* HeartRule() const;
    int32_t CurrentElevation() const { return currentElevation_; }
    void SetCurrentElevation(int32_t value) { currentElevation_ = value; }
    double CurrentSlope() const { return currentSlope_; }  // percent
    void SetCurrentSlope(double value) { currentSlope_ = value; }
    int32_t ResistanceLatency() const { return resistanceLatency_; }
    // Negative values are stored as 0.
    void SetResistanceLatency(int32_t value) { resistanceLatency_ = value < 0 ? 0 : value; }
    double ResistanceReducer() const { return resistanceReducer_; }
    void SetResistanceReducer(double value) { resistanceReducer_ = value; }
    double Calibration() const { return calibration_; }
    void SetCalibration(double value) { calibration_ = value; }
    double ResistanceMapAdapter() const { return resistanceMapAdapter_; }
    void SetResistanceMapAdapter(double value) { resistanceMapAdapter_ = value; }
    int32_t PowerToShow() const { return powerToShow_; }
    void SetPowerToShow(int32_t value) { powerToShow_ = value; }
    bool HighPowerReduceEnable() const { return highPowerReduceEnable_; }
    void SetHighPowerReduceEnable(bool value) { highPowerReduceEnable_ = value; }
    double HighPowerReduceStartSpeed() const { return highPowerReduceStartSpeed_; }
    void SetHighPowerReduceStartSpeed(double value) { highPowerReduceStartSpeed_ = value; }
    double HighPowerReduceCoefficientMinimum() const { return highPowerReduceMinimum_; }
    void SetHighPowerReduceCoefficientMinimum(double value) { highPowerReduceMinimum_ = value; }
    double HighPowerReduceCoefficient() const { return highPowerReduceCoefficient_; }
    // Never below HighPowerReduceCoefficientMinimum; takes effect at the next
    // SetVeloxResistance.
    void SetHighPowerReduceCoefficient(double value);

    // ---- Virtual speed ----
    bool VirtualSpeedEnabled() const { return virtualSpeedEnabled_; }
    // Turning it off clears the virtual speed.
    void SetVirtualSpeedEnabled(bool value);
    double VirtualSpeedAttenuation() const { return virtualSpeedAttenuation_; }
    void SetVirtualSpeedAttenuation(double value) { virtualSpeedAttenuation_ = value; }
    double Tolerance() const { return tolerance_; }
    void SetTolerance(double value) { tolerance_ = value; }
    double VirtualSpeed() const { return virtualSpeed_; }
    double VirtualDistance() const { return virtualDistance_; }
    double AttritionForce() const { return attritionForce_; }
    double GravityForce() const { return gravityForce_; }
    double PedalingForce() const { return pedalingForce_; }

    // ---- Ride model ----
    // Watts a rider of RiderWeight needs at speed v (device unit) on `slope` percent.
    double PowerAtSpeed(double v, double slope) const;
    // Calories of one statistics step at speed v (never negative).
    double CalorieIncrement(double v) const;
    // One step of the virtual speed from the rider's real speed x.
    void VirtualSpeedUpdate(double x);
    void ResetVirtualSpeed();

    // ---- Resistance lookup ----
    // The resistance level at which the rider produces `power` watts at `speed` (device
    // unit) on ResistanceMap, times Calibration and ResistanceReducer, capped at low
    // speeds for trainer versions 4 and 4.5; sets PowerToShow. Appends one line to
    // `trace` when given. Not clamped to 0..255 (SetVeloxResistance does that).
    int32_t ResistanceForPower(int32_t power, std::vector<std::string>* trace, double speed);
    // Linear inter- and extrapolation through (x1, y1) and (x2, y2); raises
    // std::domain_error "x1>x2 or y1>y2" when either pair decreases.
    static double Interpolate(double x, double x1, double x2, double y1, double y2);

    // ---- Operations ----
    // Binds to the next console that joins; false when none came.
    bool Connect() override;
    // Removes the console from the dongle; always false.
    bool Disconnect() override;
    // From csStopped the statistics start afresh (calories, averages, maxima and the
    // measure windows too); from csPaused the ride resumes.
    bool Start() override;
    // False, changing nothing, when an OnBeforeStop handler vetoes.
    bool Stop() override;
    bool Pause() override;
    void StatsTick() override;

    // ---- Events ----
    TConsoleKeyDownEvent OnConsoleKeyDown;
    TNotifyEvent OnVersionChange;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    // The raw heart reading of the step.
    int32_t ReadMeasures(const TMiraConsoleMeasure& measure);
    void ReportKeys();
    void ProcessHeartRate(std::optional<int32_t> reading);
    void HeartAlarm();
    void VirtualSpeedStep();
    void UpdateHighPowerReduction();
    void WatchConnection();
    void LoseConsole();
    void ShowConsoleAway();
    // One raw heart reading of the console, judged by the cut's rule at the interlock.
    void JudgeHeart(int32_t reading);
    // The interlock guards the console by the bench's rule again.
    void ReleaseHeartGuard();
    void StoreResistance(int32_t value);
    void ClearRide();
    // Rider and bike mass: kg with umKm, pounds with umMiles.
    double Mass() const;

    static bool statsRunning_;  // shared by every device: a step runs at most once at a time

    int32_t sampleCount_ = 0;
    TMiraWirelessProtocol* wirelessUSB_ = nullptr;
    uint8_t idConsole_ = 0;
    TMapCalibration* mapCalibration_ = nullptr;
    uint32_t startTick_ = 0;
    uint32_t pauseTick_ = 0;
    TMiraAverage heartAverage_;
    int32_t hrArrayLength_ = 5;
    bool heartEnabled_ = true;
    int32_t heartSampleCount_ = 0;
    int32_t heartSum_ = 0;
    bool heartConnectionActive_ = true;
    long double caloriesAccumulator_ = 0;
    TMiraAverage cadenceAverage_;
    int32_t cadenceSum_ = 0;
    int32_t cadenceArrayLength_ = 1;
    TMiraAverage speedAverage_;
    int32_t speedArrayLength_ = 3;
    double rollDiameter_ = 0;
    double instantSpeed_ = 0;
    double realSpeed_ = 0;
    bool connected_ = false;
    double veloxVersion_ = 0;
    int32_t initialResistance_ = 0;
    int32_t serialNumber_ = 0;
    bool securityActive_ = false;
    TResistanceMap* resistanceMap_ = nullptr;
    double resistanceMapAdapter_ = 1.0;
    int32_t veloxResistance_ = 0;
    int32_t veloxElevation_ = 0;
    int32_t resistanceLatency_ = 0;
    double resistanceReducer_ = 1.0;
    double currentSlope_ = 0;
    int32_t currentElevation_ = 0;
    int32_t powerToShow_ = 0;
    double highPowerReduceCoefficient_ = 1.0;
    bool highPowerReduceEnable_ = false;
    double highPowerReduceStartSpeed_ = 7.0;
    double highPowerReduceMinimum_ = 0.25;
    double calibration_ = 1.0;
    double previousVirtualSpeed_ = 0;
    bool virtualSpeedEnabled_ = false;
    double virtualSpeedAttenuation_ = 1.0;
    double virtualSpeed_ = 0;
    double virtualDistance_ = 0;
    double attritionForce_ = 0;
    double gravityForce_ = 0;
    double pedalingForce_ = 0;
    double netForce_ = 0;
    int32_t precisionSpeed_ = 8;
    int32_t precisionDistance_ = 8;
    double tolerance_ = 2.0;
    bool recoverConnection_ = false;
    int32_t recoverConnectionTime_ = 0;
    int32_t recoveryCountdown_ = -1;
    bool recovering_ = false;
    // The ride's console left the dongle: its last measures are no longer true.
    bool away_ = false;
    int32_t requestedResistance_ = 0;  // asked for during a heart cut
};

}  // namespace wct
