// SPDX-License-Identifier: Apache-2.0
// TNoxCustomDevice: the base of every rider device, one rider on one trainer.
//
// It holds the rider's identity, the heart-rate limits, the live statistics of a ride
// (speed, distance, cadence, heart rate, power, calories, their averages and maxima), the
// competitor state with its events, and a statistics timer whose tick runs the virtual
// StatsTick on the main thread. The base stores and announces; a derived device measures
// and computes. Statistics are reached through virtual getters and setters so that a
// derived device can intercept them, and every event is raised through a virtual Do...
// operation for the same reason. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/component.h"
#include "common/nox_timer.h"

namespace wct {

enum TUnitMeasure : uint8_t { umKm = 0, umMiles = 1 };

// Ordinal 1 is not used.
enum TCompetitorState : uint8_t {
    csUnknown = 0,
    csConnected = 2,
    csReadyToStart = 3,
    csStarted = 4,
    csPaused = 5,
    csStopped = 6,
};
// The value's name ("csStarted"), or nullptr for the unused ordinal 1 or any other value.
const char* CompetitorStateName(TCompetitorState state);

enum TConsoleKey : uint8_t { ckPlus = 0, ckMinus = 1, ckE = 2, ckT = 3 };

using TCompetitorStateChangedEvent =
    std::function<void(TComponent* sender, TCompetitorState oldState, TCompetitorState newState)>;
// doStop comes back from the handler; no device acts on it.
using TAlarmEvent = std::function<void(TComponent* sender, int percentDelta, bool isHigherLimit,
                                       bool abortedByComponent, bool& doStop)>;
using TBeforeStopEvent = std::function<void(TComponent* sender, bool& canContinue)>;
using TConsoleKeyDownEvent = std::function<void(TComponent* sender, TConsoleKey key)>;

class TNoxCustomDevice : public TComponent {
public:
    explicit TNoxCustomDevice(TComponent* owner = nullptr);
    ~TNoxCustomDevice() override;
    std::string ClassName() const override { return "TNoxCustomDevice"; }
    void DefineProperties(TPropertyList& properties) override;
    // Copies RiderName only.
    void Assign(const TNoxCustomDevice& source) { SetRiderName(source.RiderName()); }

    // ---- Rider ----
    const std::string& RiderName() const { return riderName_; }
    virtual void SetRiderName(const std::string& value) { riderName_ = value; }
    int32_t RiderId() const { return riderId_; }
    virtual void SetRiderId(int32_t value) { riderId_ = value; }
    const std::string& LastName() const { return lastName_; }
    virtual void SetLastName(const std::string& value) { lastName_ = value; }
    const std::string& FirstName() const { return firstName_; }
    virtual void SetFirstName(const std::string& value) { firstName_ = value; }
    double BirthDate() const { return birthDate_; }  // days since 1899-12-30
    virtual void SetBirthDate(double value) { birthDate_ = value; }
    // Kilograms, or pounds with umMiles.
    int32_t RiderWeight() const { return riderWeight_; }
    virtual void SetRiderWeight(int32_t value) { riderWeight_ = value; }
    TUnitMeasure UOM() const { return uom_; }
    virtual void SetUOM(TUnitMeasure value) { uom_ = value; }
    // The encoded picture, kept as its bytes; setting copies it.
    const std::string& Photo() const { return photo_; }
    virtual void SetPhoto(const std::string& value) { photo_ = value; }
    int32_t Color() const { return color_; }
    virtual void SetColor(int32_t value) { color_ = value; }
    double BikeWeight() const { return bikeWeight_; }
    void SetBikeWeight(double value) { bikeWeight_ = value; }
    int32_t HeartMaxLimit() const { return heartMaxLimit_; }
    virtual void SetHeartMaxLimit(int32_t value) { heartMaxLimit_ = value; }
    int32_t HeartUpperLimit() const { return heartUpperLimit_; }
    virtual void SetHeartUpperLimit(int32_t value) { heartUpperLimit_ = value; }
    int32_t HeartLowerLimit() const { return heartLowerLimit_; }
    virtual void SetHeartLowerLimit(int32_t value) { heartLowerLimit_ = value; }
    int32_t AlarmHeartHighLimit() const { return alarmHeartHighLimit_; }
    virtual void SetAlarmHeartHighLimit(int32_t value) { alarmHeartHighLimit_ = value; }
    int32_t AlarmHeartLowLimit() const { return alarmHeartLowLimit_; }
    virtual void SetAlarmHeartLowLimit(int32_t value) { alarmHeartLowLimit_ = value; }
    int32_t AlarmHeartMaxLimit() const { return alarmHeartMaxLimit_; }
    virtual void SetAlarmHeartMaxLimit(int32_t value) { alarmHeartMaxLimit_ = value; }

    // ---- Device ----
    bool DeviceActive() const { return deviceActive_; }
    virtual void SetDeviceActive(bool value) { deviceActive_ = value; }
    virtual bool IsConnected() const { return isConnected_; }
    virtual bool SimulationMode() const { return simulationMode_; }
    virtual void SetSimulationMode(bool value) { simulationMode_ = value; }
    // 0: no known device type.
    virtual int DeviceType() const { return 0; }
    uint32_t TimeToleranceMs() const { return timeToleranceMs_; }
    virtual void SetTimeToleranceMs(uint32_t value) { timeToleranceMs_ = value; }
    // True when a - b, taken modulo 2^32, is at most TimeToleranceMs.
    virtual bool IsWithinTolerance(uint32_t a, uint32_t b) const;

    // ---- Statistics ----
    virtual double Speed() const { return speed_; }
    virtual void SetSpeed(double value) { speed_ = value; }
    double Distance() const { return distance_; }
    virtual void SetDistance(double value) { distance_ = value; }
    double DistanceToPerform() const { return distanceToPerform_; }
    virtual void SetDistanceToPerform(double value) { distanceToPerform_ = value; }
    virtual int32_t Cadence() const { return cadence_; }
    virtual void SetCadence(int32_t value) { cadence_ = value; }
    virtual int32_t HeartRate() const { return heartRate_; }
    virtual void SetHeartRate(int32_t value) { heartRate_ = value; }
    virtual int32_t MaxCadence() const { return maxCadence_; }
    virtual void SetMaxCadence(int32_t value) { maxCadence_ = value; }
    virtual int32_t Power() const { return power_; }
    virtual void SetPower(int32_t value) { power_ = value; }
    virtual int32_t ExtraStat1() const { return extraStat1_; }
    virtual void SetExtraStat1(int32_t value) { extraStat1_ = value; }
    virtual int32_t MaxHeartRate() const { return maxHeartRate_; }
    virtual void SetMaxHeartRate(int32_t value) { maxHeartRate_ = value; }
    virtual int32_t ExtraStat2() const { return extraStat2_; }
    virtual void SetExtraStat2(int32_t value) { extraStat2_ = value; }
    virtual bool Arrived() const { return arrived_; }
    virtual void SetArrived(bool value) { arrived_ = value; }
    virtual bool CourseCompleted() const { return courseCompleted_; }
    virtual void SetCourseCompleted(bool value) { courseCompleted_ = value; }
    virtual int32_t AverageCadence() const { return averageCadence_; }
    virtual void SetAverageCadence(int32_t value) { averageCadence_ = value; }
    virtual int32_t AverageHeartRate() const { return averageHeartRate_; }
    virtual void SetAverageHeartRate(int32_t value) { averageHeartRate_ = value; }
    virtual double AverageSpeed() const { return averageSpeed_; }
    virtual void SetAverageSpeed(double value) { averageSpeed_ = value; }
    virtual int32_t Calories() const { return calories_; }
    virtual void SetCalories(int32_t value) { calories_ = value; }
    virtual int32_t ExtraStat3() const { return extraStat3_; }
    virtual void SetExtraStat3(int32_t value) { extraStat3_ = value; }
    double MaxSpeed() const { return maxSpeed_; }
    virtual void SetMaxSpeed(double value) { maxSpeed_ = value; }
    int32_t MaxPower() const { return maxPower_; }
    virtual void SetMaxPower(int32_t value) { maxPower_ = value; }
    int32_t StatsMarker() const { return statsMarker_; }
    virtual void SetStatsMarker(int32_t value) { statsMarker_ = value; }

    // ---- Statistics timer ----
    virtual bool TimerStatsEnabled() const { return timer_->Enabled(); }
    virtual void SetTimerStatsEnabled(bool value) { timer_->SetEnabled(value); }
    virtual uint32_t TimerStatsInterval() const { return timer_->Interval(); }
    virtual void SetTimerStatsInterval(uint32_t value) { timer_->SetInterval(value); }
    virtual TThreadPriority TimerStatsThreadPriority() const { return timer_->ThreadPriority(); }
    virtual void SetTimerStatsThreadPriority(TThreadPriority value) {
        timer_->SetThreadPriority(value);
    }
    TNoxTimer& TimerStats() { return *timer_; }

    // ---- Competitor state ----
    virtual TCompetitorState CompetitorState() const { return competitorState_; }
    // Announces a change through DoCompetitorStateChanged; the same state fires nothing.
    virtual void SetCompetitorState(TCompetitorState value);

    // ---- Operations ----
    // The statistics step, run by the timer; the base fires OnStats.
    virtual void StatsTick();
    // Nothing in the base.
    virtual bool Start() { return false; }
    virtual bool Stop() { return false; }
    virtual bool Pause() { return false; }
    virtual bool Connect();
    virtual bool Disconnect();
    // Sets Speed, Distance, HeartRate and Cadence, in that order; intervalMs is not used
    // by the base.
    virtual void SetSimulatedMeasures(int32_t heartRate, int32_t cadence, int32_t intervalMs,
                                      double distance, double speed);
    // Forgets the rider: name, id, unit, speed and the connected flag.
    void ClearRider();
    // Zeroes the ride's statistics; the maxima of speed and power stay.
    void ResetStats();

    // ---- Notifications, each firing its event when set ----
    virtual void DoConnected();
    virtual void DoDisconnected();
    virtual void DoConnectionLost();
    virtual void DoCourseFinished();
    virtual void DoAfterStop();
    virtual void DoBeforePause();
    virtual void DoBeforeStart();
    virtual void DoBeforeStop(bool& canContinue);
    virtual void DoHeartConnectionLost();
    virtual void DoCompetitorStateChanged(TCompetitorState oldState, TCompetitorState newState);
    virtual void DoHeartCriticalValue();
    virtual void DoAlarmHeart(int percentDelta, bool isHigherLimit, bool abortedByComponent,
                              bool& doStop);

    // ---- Events ----
    TNotifyEvent OnConnected;
    TNotifyEvent OnDisconnected;
    TNotifyEvent OnConnectionLost;
    TNotifyEvent OnCourseFinished;
    TNotifyEvent OnAfterStop;
    TAlarmEvent OnAlarmHeart;
    TCompetitorStateChangedEvent OnCompetitorStateChanged;
    TNotifyEvent OnBeforePause;
    TNotifyEvent OnBeforeStart;
    TBeforeStopEvent OnBeforeStop;
    TNotifyEvent OnHeartConnectionLost;
    TNotifyEvent OnStats;
    TNotifyEvent OnHeartCriticalValue;

private:
    int32_t alarmHeartHighLimit_ = 210;
    int32_t alarmHeartLowLimit_ = 35;
    int32_t alarmHeartMaxLimit_ = 220;
    int32_t maxPower_ = 0;
    double maxSpeed_ = 0;
    uint32_t timeToleranceMs_ = 100;
    TNoxTimer* timer_;
    TCompetitorState competitorState_ = csUnknown;
    double bikeWeight_ = 10;
    double distanceToPerform_ = 0;
    double distance_ = 0;
    int32_t statsMarker_ = 0;
    bool simulationMode_ = false;
    int32_t heartMaxLimit_ = 220;
    int32_t heartUpperLimit_ = 0;
    int32_t heartLowerLimit_ = 0;
    bool deviceActive_ = false;
    int32_t cadence_ = 0;
    int32_t heartRate_ = 0;
    int32_t maxCadence_ = 0;
    int32_t power_ = 0;
    int32_t extraStat1_ = 0;
    int32_t maxHeartRate_ = 0;
    int32_t extraStat2_ = 0;
    bool arrived_ = false;
    bool courseCompleted_ = false;
    int32_t averageCadence_ = 0;
    int32_t averageHeartRate_ = 0;
    double averageSpeed_ = 0;
    int32_t calories_ = 0;
    int32_t extraStat3_ = 0;
    int32_t riderId_ = -1;
    std::string lastName_;
    std::string firstName_;
    double birthDate_ = 0;
    int32_t riderWeight_ = 0;
    TUnitMeasure uom_ = umKm;
    std::string photo_;
    int32_t color_ = 0;
    bool isConnected_ = false;
    double speed_ = 0;
    std::string riderName_;
};

}  // namespace wct
