// SPDX-License-Identifier: Apache-2.0
// The ride model of the wireless rider device: power, calories, virtual speed and the
// high-power reduction.
#include <cmath>

#include "common/round_decimals.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

constexpr double kGravity = 9.8;
// The attrition force slows a coasting virtual rider this many times faster.
constexpr double kCoastBraking = 2.5;

}  // namespace

double TVeloxDeviceW::Mass() const {
    return RiderWeight() + (UOM() == umKm ? 10 : 22);
}

double TVeloxDeviceW::PowerAtSpeed(double v, double slope) const {
    if (v <= 0) return 0;
    const bool km = UOM() == umKm;
    const double e = km ? 0.00145 : 0.006;
    const double f = km ? 0.127 : 0.33;
    const double g = km ? -0.37 : -0.6;
    const double h = veloxVersion_ == 5 ? (km ? 0.0189 : 0.014) : (km ? 0.027 : 0.02);
    const double p = e * v * v * v + f * v * v + v * (h * Mass() * slope + g);
    return p > 0 ? p : 0;
}

double TVeloxDeviceW::CalorieIncrement(double v) const {
    const double increment =
        UOM() == umKm ? 4.4e-6 * v * v * v + 1.8e-5 * v * Mass() + 0.002 * v * currentSlope_
                      : 1.83e-5 * v * v * v + 1.3e-5 * v * Mass() + 0.0015 * v * currentSlope_;
    return increment > 0 ? increment : 0;
}

void TVeloxDeviceW::VirtualSpeedStep() {
    if (currentSlope_ < 0 || virtualSpeed_ > 0)
        VirtualSpeedUpdate(realSpeed_);
    else
        ResetVirtualSpeed();
    virtualDistance_ =
        virtualSpeed_ == 0
            ? 0
            : static_cast<double>(RoundDecimals(precisionDistance_, virtualSpeed_ / 3600.0L));
}

void TVeloxDeviceW::VirtualSpeedUpdate(double x) {
    if (x == 0) {
        ResetVirtualSpeed();
        return;
    }
    const double previous = virtualSpeed_;
    previousVirtualSpeed_ = previous;
    const double mass = Mass();
    gravityForce_ = mass * std::fabs(currentSlope_) * virtualSpeedAttenuation_ / 100;
    pedalingForce_ = PowerAtSpeed(x, 0) / x;
    attritionForce_ = previous + x != 0 ? PowerAtSpeed(previous + x, 0) / (previous + x) : 0;
    netForce_ = pedalingForce_ + gravityForce_ - attritionForce_;
    double next = 0;
    if (currentSlope_ < 0) {
        next = static_cast<double>(
            RoundDecimals(precisionSpeed_, previous + netForce_ / (mass / kGravity)));
    } else if (std::fabs(previous) > tolerance_) {
        next = previous - attritionForce_ * kCoastBraking / (mass / kGravity);
    }
    virtualSpeed_ = next < 0 ? 0 : next;
}

void TVeloxDeviceW::ResetVirtualSpeed() {
    previousVirtualSpeed_ = 0;
    virtualDistance_ = 0;
    virtualSpeed_ = 0;
    attritionForce_ = 0;
    gravityForce_ = 0;
    pedalingForce_ = 0;
}

void TVeloxDeviceW::SetVirtualSpeedEnabled(bool value) {
    if (!value) ResetVirtualSpeed();
    virtualSpeedEnabled_ = value;
}

void TVeloxDeviceW::UpdateHighPowerReduction() {
    if (Destroying()) return;
    double c = 1;
    if (highPowerReduceEnable_) {
        const double s = virtualSpeedEnabled_ ? instantSpeed_ - virtualSpeed_ : instantSpeed_;
        if (s < highPowerReduceStartSpeed_) {
            c = highPowerReduceMinimum_ +
                s * (1 - highPowerReduceMinimum_) / highPowerReduceStartSpeed_;
        }
    }
    SetHighPowerReduceCoefficient(c);
}

void TVeloxDeviceW::SetHighPowerReduceCoefficient(double value) {
    if (value == highPowerReduceCoefficient_) return;
    highPowerReduceCoefficient_ =
        value >= highPowerReduceMinimum_ ? value : highPowerReduceMinimum_;
}

}  // namespace wct
