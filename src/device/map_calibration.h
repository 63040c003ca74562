// SPDX-License-Identifier: Apache-2.0
// TMapCalibration: the settings of a three-point calibration of the resistance map. For
// each point a correction value with its allowed range, a speed and a resistance level,
// plus the switch that turns the calibration on. A settings holder only: nothing
// computes with these values (the lookup uses the rider device's Calibration factor), and
// the ranges are not enforced.
#pragma once

#include <cstdint>

#include "common/component.h"

namespace wct {

class TMapCalibration : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TMapCalibration"; }
    void DefineProperties(TPropertyList& properties) override;

    int32_t CalibrationP1() const { return calibrationP1_; }
    virtual void SetCalibrationP1(int32_t value) { calibrationP1_ = value; }
    int32_t CalibrationP2() const { return calibrationP2_; }
    virtual void SetCalibrationP2(int32_t value) { calibrationP2_ = value; }
    int32_t CalibrationP3() const { return calibrationP3_; }
    virtual void SetCalibrationP3(int32_t value) { calibrationP3_ = value; }
    int32_t Speed1() const { return speed1_; }
    virtual void SetSpeed1(int32_t value) { speed1_ = value; }
    int32_t Speed2() const { return speed2_; }
    virtual void SetSpeed2(int32_t value) { speed2_ = value; }
    int32_t Speed3() const { return speed3_; }
    virtual void SetSpeed3(int32_t value) { speed3_ = value; }
    int32_t Resist1() const { return resist1_; }
    virtual void SetResist1(int32_t value) { resist1_ = value; }
    int32_t Resist2() const { return resist2_; }
    // Not virtual: this one has no overridable setter.
    void SetResist2(int32_t value) { resist2_ = value; }
    int32_t Resist3() const { return resist3_; }
    virtual void SetResist3(int32_t value) { resist3_ = value; }
    double VeloxVersion() const { return veloxVersion_; }
    virtual void SetVeloxVersion(double value) { veloxVersion_ = value; }
    bool UseMapCalibration() const { return useMapCalibration_; }
    virtual void SetUseMapCalibration(bool value) { useMapCalibration_ = value; }
    int32_t P1MaxValue() const { return p1MaxValue_; }
    virtual void SetP1MaxValue(int32_t value) { p1MaxValue_ = value; }
    int32_t P2MaxValue() const { return p2MaxValue_; }
    virtual void SetP2MaxValue(int32_t value) { p2MaxValue_ = value; }
    int32_t P3MaxValue() const { return p3MaxValue_; }
    virtual void SetP3MaxValue(int32_t value) { p3MaxValue_ = value; }
    int32_t P1MinValue() const { return p1MinValue_; }
    virtual void SetP1MinValue(int32_t value) { p1MinValue_ = value; }
    int32_t P2MinValue() const { return p2MinValue_; }
    virtual void SetP2MinValue(int32_t value) { p2MinValue_ = value; }
    int32_t P3MinValue() const { return p3MinValue_; }
    virtual void SetP3MinValue(int32_t value) { p3MinValue_ = value; }

private:
    int32_t p1MaxValue_ = 0;
    int32_t p2MaxValue_ = 0;
    int32_t p3MaxValue_ = 0;
    int32_t p1MinValue_ = 0;
    int32_t p2MinValue_ = 0;
    int32_t p3MinValue_ = 0;
    double veloxVersion_ = 0;
    bool useMapCalibration_ = false;
    int32_t calibrationP1_ = 1;
    int32_t calibrationP2_ = 1;
    int32_t calibrationP3_ = 1;
    int32_t speed1_ = 0;
    int32_t speed2_ = 0;
    int32_t speed3_ = 0;
    int32_t resist1_ = 0;
    int32_t resist2_ = 0;
    int32_t resist3_ = 0;
};

}  // namespace wct
