// SPDX-License-Identifier: Apache-2.0
// The resistance output of the wireless rider device: the level asked for, the brake's
// forbidden levels, the high-power reduction applied, and the heart guard that cuts the
// level while the rider's heart rate is over its limit.
#include "common/round_decimals.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

// Levels 240 and 247 are not accepted by the trainer's brake; the one below is.
int32_t ClampLevel(int32_t value) {
    if (value < 0) return 0;
    if (value > 255) return 255;
    if (value == 240) return 239;
    if (value == 247) return 246;
    return value;
}

}  // namespace

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
