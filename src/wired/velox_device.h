// SPDX-License-Identifier: Apache-2.0
// TVeloxDevice: the driver of one wired roll trainer.
//
// It owns its serial port, a packet framer and five threaded timers (key repeat, heart
// survey, connection survey, statistics, keep-alive). Connect identifies the trainer and
// its protocol generation (`Version`), which decides the framing and the roll geometry;
// the connection survey notices a silent trainer and repairs the link; Start, Pause and
// Stop run a ride whose statistics tick computes speed, distance, power, calories, heart
// rate and cadence and sends the load back. Everything is published as properties and
// events.
//
// What a rider can rely on: the ride's distance counts from the trainer's roll total at
// Start (a trainer counts from power-on); a trainer that has fallen silent reads speed,
// cadence, power and heart rate 0 and accrues nothing; it counts as back only when it
// speaks again, and is given up after `DisconMaxTry` repair tries; cadence falls to 0
// when no pedal revolution came for `CadenceCalcDelay` ms; a connected trainer is kept
// alive, unloaded, outside a ride.
//
// Threads: everything runs on the main thread. Port events and timer ticks are handed
// there; Connect and the repair steps pump the main thread while they wait, so handlers
// (the identification answer among them) run nested inside them. The statistics tick and
// key handling guard against re-entry with flags shared by all instances.
//
// Failures of connection steps never throw: they are reported as numbered notices
// through OnVxdErrorInfo (ErrorText gives their texts). QuickConnectDevice on a trainer
// of a long-frame generation is a programming error and throws std::logic_error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/component.h"
#include "common/heart_cut.h"
#include "common/threaded_timer.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"

namespace wct::wired {

enum TVeloxDeviceStatus { vdsDisconnected, vdsConnected, vdsRunning, vdsPaused, vdsStopped };
enum TVeloxDeviceMessageType {
    mtMeasures,
    mtRollCount,
    mtSerialNumber,
    mtIdentification,
    mtProductVersion,
    mtUnparsed
};
enum TConsoleKey { ckPlus, ckMinus, ckE, ckT };
// etError and etWarning are never raised by this driver.
enum TVxdErrorType { etError, etWarning, etNotice, etRestored };
enum TUnitMeasure { umKm, umMiles };

// Notice codes of OnVxdErrorInfo.
enum : int32_t {
    vxeIdentificationSent = 611,
    vxeRestored = 614,
    vxeCannotOpenPort = 710,
    vxeRepairAborted = 711,
    vxeConnectionLost = 720,
};

using TVeloxDeviceStatusChangedEvent =
    std::function<void(TComponent* sender, TVeloxDeviceStatus oldVeloxDeviceStatus,
                       TVeloxDeviceStatus newVeloxDeviceStatus)>;
using TVeloxDeviceMessageEvent = std::function<void(
    TComponent* sender, TVeloxDeviceMessageType veloxMessageType, long double value1,
    long double value2, long double value3, const std::string& str)>;
using TConsoleKeyDownEvent = std::function<void(TComponent* sender, TConsoleKey consoleKey)>;
using TVxdErrorInfo = std::function<void(TComponent* sender, TVxdErrorType vxdErrorType,
                                         int32_t vxdErrorCode, int32_t occurence)>;
using TInstantHeartEvent = std::function<void(TComponent* sender, const std::string& aText)>;
using TMessageRejectedEvent = std::function<void(const std::string& str)>;
using TAlarmEvent = std::function<void(TComponent* sender, int32_t percentDelta, bool isHigherLimit,
                                       bool abortedByComponent, bool& doStop)>;
using TOnStatsEvent = std::function<void(TComponent* sender, int32_t lapTime, int32_t lapEventCount,
                                         long double lapRollCount, long double lapDistance,
                                         long double oldSpeed, bool speedChanged)>;
using TBeforeStopEvent = std::function<void(TComponent* sender, bool& canContinue)>;

class TVeloxDevice : public TComponent {
public:
    explicit TVeloxDevice(TComponent* owner = nullptr);
    ~TVeloxDevice() override;
    std::string ClassName() const override { return "TVeloxDevice"; }
    void DefineProperties(TPropertyList& properties) override;

    // ---- Identity and state ----
    double Version() const { return version_; }
    virtual void SetVersion(double value);
    double ComponentVersion() const { return 3.33; }
    void SetComponentVersion(double) {}
    bool Connected() const { return connected_; }
    void SetConnected(bool value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    bool SimulationMode() const { return simulationMode_; }
    void SetSimulationMode(bool value);
    bool DebugMode() const { return debugMode_; }
    void SetDebugMode(bool value) { debugMode_ = value; }
    int32_t RollValue() const { return rollValue_; }
    void SetRollValue(int32_t value) { rollValue_ = value; }
    bool SecurityActive() const { return securityActive_; }
    void SetSecurityActive(bool value) { securityActive_ = value; }
    uint8_t RotationHex1() const { return rotationHex1_; }
    uint8_t RotationHex2() const { return rotationHex2_; }
    double Orientation() const { return orientation_; }
    bool UsePackets() const { return usePackets_; }
    void SetUsePackets(bool value) { usePackets_ = value; }
    TVeloxDeviceStatus Status() const { return status_; }
    uint32_t SerialNumber() const { return serialNumber_; }
    uint8_t ProductVersion() const { return productVersion_; }
    int32_t ReceivedMessages() const { return receivedMessages_; }
    int32_t DisconnectionCount() const { return disconnectionCount_; }

    // ---- Serial-port and framer pass-through ----
    TComPort& ComPort() { return *port_; }
    TComDataPacket& ComDataPacket() { return *framer_; }
    int ComPortTag() const { return comPortTag_; }
    void SetComPortTag(int value) { comPortTag_ = value; }
    bool ComPortConnected() const { return port_->Connected(); }
    void SetComPortConnected(bool value) { port_->SetConnected(value); }
    TBaudRate ComPortBaudRate() const { return port_->BaudRate(); }
    void SetComPortBaudRate(TBaudRate value) { port_->SetBaudRate(value); }
    const std::string& ComPortPort() const { return port_->Port(); }
    void SetComPortPort(const std::string& value) { port_->SetPort(value); }
    TComParity& ComPortParity() { return port_->Parity(); }
    TStopBits ComPortStopBits() const { return port_->StopBits(); }
    void SetComPortStopBits(TStopBits value) { port_->SetStopBits(value); }
    TDataBits ComPortDataBits() const { return port_->DataBits(); }
    void SetComPortDataBits(TDataBits value) { port_->SetDataBits(value); }
    bool ComPortDiscardNull() const { return port_->DiscardNull(); }
    void SetComPortDiscardNull(bool value) { port_->SetDiscardNull(value); }
    char ComPortEventChar() const { return port_->EventChar(); }
    void SetComPortEventChar(char value) { port_->SetEventChar(value); }
    TComEvents ComPortEvents() const { return port_->Events(); }
    void SetComPortEvents(TComEvents value) { port_->SetEvents(value); }
    TComBuffer& ComPortBuffer() { return port_->Buffer(); }
    TComFlowControl& ComPortFlowControl() { return port_->FlowControl(); }
    TComTimeouts& ComPortTimeouts() { return port_->Timeouts(); }
    TSyncMethod ComPortSyncMethod() const { return port_->SyncMethod(); }
    void SetComPortSyncMethod(TSyncMethod value) { port_->SetSyncMethod(value); }
    bool ComDataPacketCaseInsensitive() const { return framer_->CaseInsensitive(); }
    void SetComDataPacketCaseInsensitive(bool value) { framer_->SetCaseInsensitive(value); }
    bool ComDataPacketIncludeStrings() const { return framer_->IncludeStrings(); }
    void SetComDataPacketIncludeStrings(bool value) { framer_->SetIncludeStrings(value); }
    int ComDataPacketMaxBufferSize() const { return framer_->MaxBufferSize(); }
    void SetComDataPacketMaxBufferSize(int value) { framer_->SetMaxBufferSize(value); }
    const std::string& ComDataPacketStartString() const { return framer_->StartString(); }
    void SetComDataPacketStartString(const std::string& v) { framer_->SetStartString(v); }
    const std::string& ComDataPacketStopString() const { return framer_->StopString(); }
    void SetComDataPacketStopString(const std::string& v) { framer_->SetStopString(v); }
    int ComDataPacketSize() const { return framer_->Size(); }
    void SetComDataPacketSize(int value) { framer_->SetSize(value); }

    // ---- Connection survey and repair ----
    bool ConnectionSurvey() const { return connectionSurvey_; }
    void SetConnectionSurvey(bool value);
    int32_t ConnectionSurveyInterval() const { return connectionSurveyInterval_; }
    void SetConnectionSurveyInterval(int32_t value);
    bool DisconUseCloseOpenPort() const { return disconUseCloseOpenPort_; }
    void SetDisconUseCloseOpenPort(bool value) { disconUseCloseOpenPort_ = value; }
    int32_t DisconDelayBetweenCloseOpenPort() const { return disconDelay_; }
    void SetDisconDelayBetweenCloseOpenPort(int32_t value);
    int32_t DisconMaxTry() const { return disconMaxTry_; }
    void SetDisconMaxTry(int32_t value) { disconMaxTry_ = value; }

    // ---- Ride and statistics ----
    int32_t StatsInterval() const { return statsInterval_; }
    void SetStatsInterval(int32_t value) { statsInterval_ = value; }
    TThreadPriority TimerStatsThreadPriority() const { return statsTimer_->ThreadPriority(); }
    void SetTimerStatsThreadPriority(TThreadPriority v) { statsTimer_->SetThreadPriority(v); }
    bool MaintainsConsoleActive() const { return maintainsConsoleActive_; }
    void SetMaintainsConsoleActive(bool value) { maintainsConsoleActive_ = value; }
    long double CourseDistance() const { return courseDistance_; }
    void SetCourseDistance(long double value) { courseDistance_ = value; }
    uint32_t KeyRepeatInterval() const { return keyTimer_->Interval(); }
    void SetKeyRepeatInterval(uint32_t value) { keyTimer_->SetInterval(value); }
    // The statistics timer (its tag, enabled flag, interval, elapsed and lap times).
    TQuilThreadTimer& StatsTimer() { return *statsTimer_; }
    int32_t KeyMessage() const { return keyMessage_; }
    void SetKeyMessage(int32_t value) { keyMessage_ = value; }

    // ---- Measures ----
    int32_t PrecisionSpeed() const { return precisionSpeed_; }
    void SetPrecisionSpeed(int32_t value) { precisionSpeed_ = value; }
    int32_t PrecisionDistance() const { return precisionDistance_; }
    void SetPrecisionDistance(int32_t value) { precisionDistance_ = value; }
    TUnitMeasure UnitMeasure() const { return unitMeasure_; }
    void SetUnitMeasure(TUnitMeasure value);
    TUnitMeasure UnitMeasureDefault() const { return unitMeasureDefault_; }
    void SetUnitMeasureDefault(TUnitMeasure value) { unitMeasureDefault_ = value; }
    double RollDiameter() const { return rollDiameter_; }
    void SetRollDiameter(double value);
    double NumberOfRoundPerRollEvent() const { return roundsPerRollEvent_; }
    void SetNumberOfRoundPerRollEvent(double value);
    long double MetresPerRollEvent() const { return metresPerRollEvent_; }
    int32_t SpeedArrayLength() const { return static_cast<int32_t>(speeds_.size()); }
    void SetSpeedArrayLength(int32_t value);
    bool VirtualSpeedEnabled() const { return virtualSpeedEnabled_; }
    void SetVirtualSpeedEnabled(bool value);
    double VirtualSpeedAttenuation() const { return virtualSpeedAttenuation_; }
    void SetVirtualSpeedAttenuation(double value) { virtualSpeedAttenuation_ = value; }
    double Tolerance() const { return tolerance_; }
    void SetTolerance(double value) { tolerance_ = value; }
    double RiderWeight() const { return riderWeight_; }
    void SetRiderWeight(double value) { riderWeight_ = value; }
    double CurrentSlope() const { return currentSlope_; }
    void SetCurrentSlope(double value) { currentSlope_ = value; }
    double CurrentElevation() const { return currentElevation_; }
    void SetCurrentElevation(double metres);

    long double Speed() const { return speed_; }
    long double RealSpeed() const { return realSpeed_; }
    long double InstantSpeed() const { return instantSpeed_; }
    long double AverageSpeed() const { return averageSpeed_; }
    long double MaxSpeed() const { return maxSpeed_; }
    long double Distance() const { return distance_; }
    long double RollEventTotal() const { return rollTotal_; }
    long double VirtualSpeedDelta() const { return virtualDelta_; }
    int32_t Power() const { return power_; }
    int32_t Calories() const { return calories_; }

    // ---- Load ----
    int32_t VeloxResistance() const { return veloxResistance_; }
    void SetVeloxResistance(int32_t value);
    int32_t VeloxElevation() const { return veloxElevation_; }
    void SetVeloxElevation(int32_t value) { veloxElevation_ = value; }
    int32_t InitialResistance() const { return initialResistance_; }
    void SetInitialResistance(int32_t value);
    bool UseElevation() const { return useElevation_; }
    void SetUseElevation(bool value) { useElevation_ = value; }
    bool HighPowerReduceEnable() const { return highPowerReduceEnable_; }
    void SetHighPowerReduceEnable(bool value) { highPowerReduceEnable_ = value; }
    double HighPowerReduceStartSpeed() const { return highPowerReduceStartSpeed_; }
    void SetHighPowerReduceStartSpeed(double value) { highPowerReduceStartSpeed_ = value; }
    double HighPowerReduceCoefficientMinimum() const { return highPowerReduceMinimum_; }
    void SetHighPowerReduceCoefficientMinimum(double v) { highPowerReduceMinimum_ = v; }
    double HighPowerCoefficient() const { return highPowerCoefficient_; }
    virtual void SetHighPowerCoefficient(double value);
    double ResistanceReducer() const { return resistanceReducer_; }
    void SetResistanceReducer(double value);
    int32_t ResistanceLatency() const { return resistanceLatency_; }
    void SetResistanceLatency(int32_t value) { resistanceLatency_ = value < 0 ? 0 : value; }
    double Calibration() const { return calibration_; }
    void SetCalibration(double value) { calibration_ = value; }
    double ResistanceMapAdapter() const { return resistanceMapAdapter_; }
    void SetResistanceMapAdapter(double value) { resistanceMapAdapter_ = value; }

    // ---- Heart rate and cadence ----
    bool HeartEnabled() const { return heartEnabled_; }
    void SetHeartEnabled(bool value);
    bool HeartConnectionSurvey() const { return heartConnectionSurvey_; }
    void SetHeartConnectionSurvey(bool value);
    bool HeartConnectionActive() const { return heartConnectionActive_; }
    void SetHeartConnectionActive(bool value);
    int32_t HrDelayBeforeReset() const { return hrDelayBeforeReset_; }
    void SetHrDelayBeforeReset(int32_t value);
    bool HrFilter2Active() const { return hrFilter2Active_; }
    void SetHrFilter2Active(bool value) { hrFilter2Active_ = value; }
    int32_t HeartArrayLength() const { return static_cast<int32_t>(heartRates_.size()); }
    void SetHeartArrayLength(int32_t value);
    int32_t HrDeltaVariationLimit() const { return hrDeltaVariationLimit_; }
    void SetHrDeltaVariationLimit(int32_t value) { hrDeltaVariationLimit_ = value; }
    int32_t HeartCalcDelay() const { return heartCalcDelay_; }
    void SetHeartCalcDelay(int32_t value) { heartCalcDelay_ = value; }
    int32_t CadenceArrayLength() const { return static_cast<int32_t>(cadences_.size()); }
    void SetCadenceArrayLength(int32_t value);
    int32_t CadenceCalcDelay() const { return cadenceCalcDelay_; }
    void SetCadenceCalcDelay(int32_t value) { cadenceCalcDelay_ = value; }
    int32_t AlarmHeartHighLimit() const { return alarmHigh_; }
    void SetAlarmHeartHighLimit(int32_t value) { alarmHigh_ = value; }
    int32_t AlarmHeartLowLimit() const { return alarmLow_; }
    void SetAlarmHeartLowLimit(int32_t value) { alarmLow_ = value; }
    int32_t AlarmHeartAbsoluteLimit() const { return alarmAbsolute_; }
    // The heart rate above which the load and elevation are held at 0 (a heart cut).
    void SetAlarmHeartAbsoluteLimit(int32_t value);
    // From the statistics step whose heart rate is above AlarmHeartAbsoluteLimit until
    // real heart rates are back at or below it less the hysteresis for a few steps; a lost
    // signal keeps it. Meanwhile every load the driver sends carries 0 for the resistance
    // and the elevation, whatever VeloxResistance holds (the asked level comes back when
    // the cut ends).
    bool HeartCut() const { return heartCut_.Active(); }
    // The rule behind HeartCut, with the texts of its last change.
    const THeartCut& HeartRule() const { return heartCut_; }

    int32_t HeartRate() const { return heartRate_; }
    int32_t AverageHeartRate() const { return averageHeartRate_; }
    int32_t MaxHeartRate() const { return maxHeartRate_; }
    int32_t BeatPeriod() const { return beatPeriod_; }
    int32_t Cadence() const { return cadence_; }
    int32_t AverageCadence() const { return averageCadence_; }
    int32_t MaxCadence() const { return maxCadence_; }

    // ---- Operations ----
    // Identification with up to three requests, waiting `waitMs` after each.
    virtual bool Connect(uint32_t waitMs);
    virtual void Disconnect();
    // Generations up to 4: optional port reopen, then one identification request.
    virtual void QuickConnectDevice(bool reopen);
    virtual void Start();
    virtual void Pause();
    virtual void Stop();
    virtual void RequestSerialNumber();
    virtual void RequestProductVersion();
    virtual void EnableSurveys(bool on);
    virtual void EnableKeys();
    virtual void DisableKeys();
    virtual void SimulateMeasures(int32_t heartRate, int32_t cadence, long double speed);
    virtual void ResetMeasures();
    virtual std::string ErrorText(int32_t code) const;
    // Writes `bytes` one byte per write; nothing while the port is closed.
    virtual void SendBytes(const std::string& bytes);
    // Decodes one message (a frame, or bytes of the byte protocol); true when handled.
    virtual bool ParseMessage(const std::string& bytes);
    virtual void SendResistance();
    virtual long double PowerModel(long double slope, long double speed) const;
    virtual long double PowerFromSpeed(long double speed) const;
    static std::string BytesToHexString(const std::string& bytes, bool spaced);
    static int32_t HexStringToInteger(const std::string& bytes);

    // ---- Events ----
    TNotifyEvent OnConnected, OnDisconnected, OnVersionChange;
    TVeloxDeviceStatusChangedEvent OnVeloxDeviceStatusChanged;
    TVeloxDeviceMessageEvent OnVeloxMessage;
    TConsoleKeyDownEvent OnConsoleKeyDown;
    TNotifyEvent OnSerialNumber, OnProductVersion;
    TMessageRejectedEvent OnMessageRejected;
    TNotifyEvent OnConnectionLost, OnRepairingConnection;
    TVxdErrorInfo OnVxdErrorInfo;
    TOnStatsEvent OnStats;
    TNotifyEvent OnBeforeStart, OnBeforePause;
    TBeforeStopEvent OnBeforeStop;
    TNotifyEvent OnAfterStop, OnCourseFinished, OnInstantSpeed;
    TInstantHeartEvent OnInstantHeart;
    TNotifyEvent OnHeartConnectionLost;
    TAlarmEvent OnAlarmHeart;
    // Pass-through events of the port and the framer, with this component as sender.
    TNotifyEvent OnComPortAfterOpen, OnComPortAfterClose, OnComPortBeforeOpen, OnComPortBeforeClose;
    TRxCharEvent OnComPortRxChar;
    TRxBufEvent OnComPortRxBuf;
    TNotifyEvent OnComPortTxEmpty, OnComPortBreak, OnComPortRing;
    TComSignalEvent OnComPortCTSChange, OnComPortDSRChange, OnComPortRLSDChange;
    TNotifyEvent OnComPortRxFlag;
    TComErrorEvent OnComPortError;
    TNotifyEvent OnComPortRx80Full;
    TComStrEvent OnComDataPacketDiscard, OnComDataPacketPacket;
    TCustPacketEvent OnComDataPacketCustomStart, OnComDataPacketCustomStop;

protected:
    // Notifications: each event is raised through one of these.
    virtual void DoVeloxMessage(TVeloxDeviceMessageType type, long double value1,
                                long double value2, long double value3, const std::string& str);
    virtual void DoStatusChanged(TVeloxDeviceStatus oldStatus, TVeloxDeviceStatus newStatus);
    virtual void DoDisconnected();
    virtual void DoConnected();
    virtual void DoVersionChange();
    virtual void DoStats(int32_t lapTime, int32_t lapEventCount, long double lapRollCount,
                         long double lapDistance, long double oldSpeed, bool speedChanged);
    virtual void DoBeforeStart();
    virtual void DoBeforePause();
    virtual void DoCourseFinished();
    virtual void DoAlarmHeart(int32_t percentDelta, bool isHigherLimit, bool abortedByComponent,
                              bool& doStop);
    virtual void DoMessageRejected(const std::string& str);
    virtual void DoAfterStop();
    virtual void DoConnectionLost();
    virtual void DoInstantSpeed();
    virtual void DoHeartConnectionLost();
    virtual void DoVxdErrorInfo(TVxdErrorType type, int32_t code, int32_t occurence);
    virtual void DoRepairingConnection();
    virtual void DoSerialNumber();
    virtual void DoProductVersion();

    virtual void SetStatus(TVeloxDeviceStatus value);
    virtual void ConsoleKey(TConsoleKey key);
    virtual void RollIncrement(long double events);
    virtual long double SpeedSample(long double value);
    virtual void HeartBeat();
    virtual void CadenceSample(int32_t rpm);
    virtual int32_t HeartFilter1(double value);
    virtual int32_t HeartFilter2(double value);
    virtual void ResetHeart();
    virtual void ResetVirtualSpeed();
    virtual void ComputeVirtualSpeed(long double realSpeed);
    virtual void UpdateHighPower();

private:
    struct TFilter2 {
        double h0 = 0, h1 = 0, h2 = 0;
        bool prime0 = true, prime1 = true, prime2 = true;
        int32_t limit = 60;
        double lastOutput = 0;
    };

    // velox_device.cpp
    void BindPortEvents();
    void ConfigureFraming();
    void AttachFramer();
    void PacketReceived(const std::string& packet);
    void CharsReceived(int count);
    void CustomStart(const std::string& buffer, int& pos);
    void CustomStop(const std::string& buffer, int& pos);
    void Identified(uint8_t answer);
    void Reidentify();
    void ReopenPort();
    bool TryReopen();
    bool TrySend(const std::string& bytes);
    void SurveyTick();
    void RepairStep();
    void GiveUp();
    void TrainerFellSilent();
    void TrainerSpeaks();
    void KeepAlive();
    void KeepAliveTick();
    void SwitchKeepAlive();
    void KeyTimerTick();
    void CountMessage();
    bool Dying() const { return destroying_ || Destroying(); }
    void SendRequest(uint8_t command);
    void ApplySurveyInterval();
    // velox_device_messages.cpp
    void ParseBytes(const std::string& bytes);
    void ParseShortMeasures(const std::string& message);
    void ParseLongMeasures(const std::string& message);
    void ParseSerialNumber(const std::string& message);
    void TakeKeys(uint8_t flags);
    // velox_device_measures.cpp
    void UpdateDistance();
    void TakeRollTotal(uint32_t total);
    void UpdateMetresPerRollEvent();
    void StatsTick();
    void StatsStep();
    long double MassTerm() const;
    // velox_device_heart.cpp
    void HeartSurveyTick();
    void HeartStatsStep();
    // One statistics step's heart rate (0 without a signal), judged by the cut's rule.
    void JudgeHeart(int32_t bpm);
    void AlarmCheck();
    void CadenceFlag();
    void ExpireCadence();
    void LongFramePeriods(unsigned pedalPeriod, unsigned heartPeriod, long double& heartBpm,
                          long double& cadenceRpm);
    void SwitchHeartTimer();

    TComPort* port_;
    TComDataPacket* framer_;
    TQuilThreadTimer* keyTimer_;
    TQuilThreadTimer* heartTimer_;
    TQuilThreadTimer* surveyTimer_;
    TQuilThreadTimer* statsTimer_;
    TQuilThreadTimer* keepAliveTimer_;

    // Identity and state.
    bool destroying_ = false;  // set first thing in the destructor
    double version_ = 4;
    bool connected_ = false;
    bool enabled_ = true;
    bool simulationMode_ = false;
    bool debugMode_ = false;
    int32_t rollValue_ = 5;
    bool securityActive_ = true;
    uint8_t rotationHex1_ = 0;
    uint8_t rotationHex2_ = 0;
    double orientation_ = 0;
    bool usePackets_ = true;
    int comPortTag_ = 0;
    TVeloxDeviceStatus status_ = vdsDisconnected;
    uint32_t serialNumber_ = 0;
    uint8_t productVersion_ = 0;
    size_t frameSize_ = 6;
    int32_t receivedMessages_ = 0;
    bool noMessage_ = false;

    // Survey and repair.
    bool connectionSurvey_ = true;
    int32_t connectionSurveyInterval_ = 400;
    bool disconUseCloseOpenPort_ = true;
    int32_t disconDelay_ = 300;
    int32_t disconMaxTry_ = 30;
    int32_t tryCount_ = 0;
    int32_t disconnectionCount_ = 0;
    bool repairing_ = false;

    // Ride.
    int32_t statsInterval_ = 1000;
    bool maintainsConsoleActive_ = true;
    long double courseDistance_ = 0;
    uint32_t rideStartTick_ = 0;
    uint32_t pauseTick_ = 0;
    bool courseFinished_ = false;
    bool stoppedByComponent_ = false;
    long double savedRollTotal_ = 0;
    int lastKey_ = -1;
    bool keysEnabled_ = true;
    int32_t keyMessage_ = 12345;

    // Measures.
    int32_t precisionSpeed_ = 8;
    int32_t precisionDistance_ = 8;
    TUnitMeasure unitMeasure_ = umKm;
    TUnitMeasure unitMeasureDefault_ = umKm;
    double rollDiameter_ = 39.5;
    double roundsPerRollEvent_ = 1;
    long double metresPerRollEvent_ = 0;
    std::vector<double> speeds_ = std::vector<double>(25);
    bool virtualSpeedEnabled_ = false;
    double virtualSpeedAttenuation_ = 0.5;
    double tolerance_ = 2;
    double riderWeight_ = 0;
    double currentSlope_ = 0;
    double currentElevation_ = 0;
    long double speed_ = 0;
    long double realSpeed_ = 0;
    long double instantSpeed_ = 0;
    long double averageSpeed_ = 0;
    long double maxSpeed_ = 0;
    long double distance_ = 0;
    long double rollTotal_ = 0;
    long double rollIncrement_ = 0;
    long double lastTickRollTotal_ = 0;
    // The trainer's roll total counts from power-on: the ride takes its increase since
    // a baseline, taken from the first total after Start, resume or a silence.
    bool totalBaselinePending_ = true;
    uint32_t lastTrainerTotal_ = 0;
    long double measuredSinceTotal_ = 0;  // roll events from measures since the last total
    long double lapRollCount_ = 0;
    long double lapDistance_ = 0;
    long double virtualDelta_ = 0;
    long double virtualDistanceIncrement_ = 0;
    int32_t power_ = 0;
    long double caloriesTotal_ = 0;
    int32_t calories_ = 0;
    int32_t byteAccumulator_ = 0;
    int32_t bytesCounted_ = 0;

    // Load.
    int32_t veloxResistance_ = 0;
    int32_t veloxElevation_ = 0;
    int32_t initialResistance_ = 0;
    bool useElevation_ = false;
    bool highPowerReduceEnable_ = false;
    double highPowerReduceStartSpeed_ = 7;
    double highPowerReduceMinimum_ = 0.25;
    double highPowerCoefficient_ = 1;
    double resistanceReducer_ = 1;
    int32_t resistanceLatency_ = 0;
    double calibration_ = 1;
    double resistanceMapAdapter_ = 1;

    // Heart rate and cadence.
    bool heartEnabled_ = false;
    bool heartConnectionSurvey_ = false;
    bool heartConnectionActive_ = false;
    int32_t hrDelayBeforeReset_ = 3000;
    bool hrFilter2Active_ = false;
    int32_t hrDeltaVariationLimit_ = 200;
    int32_t heartCalcDelay_ = 3000;
    int32_t cadenceCalcDelay_ = 5000;
    int32_t alarmHigh_ = 0;
    int32_t alarmLow_ = 0;
    int32_t alarmAbsolute_ = 0;
    int32_t heartRate_ = 0;
    int32_t heartSum_ = 0;
    int32_t heartCount_ = 0;
    int32_t averageHeartRate_ = 0;
    int32_t maxHeartRate_ = 0;
    bool beatSeen_ = false;
    bool firstBeat_ = false;
    uint32_t lastBeatTick_ = 0;
    int32_t beatPeriod_ = 0;
    std::vector<double> heartRates_ = std::vector<double>(25);
    TFilter2 filter2_;
    static constexpr int kHeartCutStepsToEnd = 5;
    THeartCut heartCut_{0, kHeartCutStepsToEnd};
    long double lastLongFrameHeart_ = 0;
    unsigned lastHeartPeriod_ = 0;      // long frames: the period word as last received
    uint32_t heartPeriodSinceTick_ = 0;  // and since when it has not changed
    uint32_t lastHeartSampleTick_ = 0;  // long frames: an unchanged period is sampled per period
    int32_t cadence_ = 0;
    std::vector<int32_t> cadences_ = std::vector<int32_t>(10);
    int32_t cadenceTotal_ = 0;
    uint32_t lastPedalTick_ = 0;
    uint32_t lastCadenceSampleTick_ = 0;
    int32_t averageCadence_ = 0;
    int32_t maxCadence_ = 0;
};

}  // namespace wct::wired
