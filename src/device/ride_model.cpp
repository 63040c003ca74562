// The physical side of the wireless rider device: power, calories, virtual speed, the
// high-power reduction and the resistance output.
#include <cmath>

#include "common/round_decimals.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

constexpr double kGravity = 9.8;
// The attrition force slows a coasting virtual rider this many times faster.
constexpr double kCoastBraking = 2.5;

// Levels 240 and 247 are not accepted by the trainer's brake; the one below is.
int32_t ClampLevel(int32_t value) {
    if (value < 0) return 0;
    if (value > 255) return 255;
    if (value == 240) return 239;
    if (value == 247) return 246;
    return value;
}

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

void TVeloxDeviceW::SetVeloxResistance(int32_t value) {
    if (HeartCut()) {
        requestedResistance_ = value;
        value = 0;
    } else if (away_) {
        value = veloxResistance_;
    }
    StoreResistance(value);
}

void TVeloxDeviceW::StoreResistance(int32_t value) {
    if (value != veloxResistance_) {
        value = ClampLevel(value);
        if (securityActive_ && Speed() == 0) value = 0;
        veloxResistance_ = RoundHalfEven(value * highPowerReduceCoefficient_);
    }
    if (wirelessUSB_ != nullptr && idConsole_ != 0) {
        wirelessUSB_->SetConsoleResistance(idConsole_,
                                           static_cast<uint8_t>(veloxResistance_ & 0xFF), 0, 0);
    }
}

void TVeloxDeviceW::SetVeloxElevation(int32_t value) {
    veloxElevation_ = HeartCut() ? 0 : value;
}

const THeartCut* TVeloxDeviceW::HeartRule() const {
    if (wirelessUSB_ == nullptr || idConsole_ == 0) return nullptr;
    return wirelessUSB_->BrakeInterlock().RiderRule(idConsole_, this);
}

bool TVeloxDeviceW::HeartCut() const {
    const THeartCut* rule = HeartRule();
    return rule != nullptr && rule->Active();
}

void TVeloxDeviceW::JudgeHeart(int32_t reading) {
    if (wirelessUSB_ == nullptr || idConsole_ == 0) return;
    const int32_t heldLevel = veloxResistance_;
    switch (wirelessUSB_->BrakeInterlock().RiderReading(idConsole_, this, reading,
                                                        AlarmHeartMaxLimit(),
                                                        heartAverage_.Length())) {
        case THeartCut::hcStarted:
            requestedResistance_ = heldLevel;
            StoreResistance(0);
            veloxElevation_ = 0;
            break;
        case THeartCut::hcEnded:
            SetVeloxResistance(requestedResistance_);
            break;
        case THeartCut::hcNone:
            break;
    }
}

void TVeloxDeviceW::ReleaseHeartGuard() {
    if (wirelessUSB_ != nullptr && idConsole_ != 0)
        wirelessUSB_->BrakeInterlock().ReleaseRider(idConsole_, this);
}

void TVeloxDeviceW::SetInitialResistance(int32_t value) {
    value = ClampLevel(value);
    if (value == initialResistance_) return;
    initialResistance_ = value;
    SetVeloxResistance(value);
}

}  // namespace wct
