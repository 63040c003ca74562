// SPDX-License-Identifier: Apache-2.0
#include "device/map_calibration.h"

namespace wct {
void TMapCalibration::DefineProperties(TPropertyList& p) {
    using C = TMapCalibration;
    p.Bind("CalibrationP1", this, &C::CalibrationP1, &C::SetCalibrationP1, 1);
    p.Bind("CalibrationP2", this, &C::CalibrationP2, &C::SetCalibrationP2, 1);
    p.Bind("CalibrationP3", this, &C::CalibrationP3, &C::SetCalibrationP3, 1);
    p.Bind("Speed1", this, &C::Speed1, &C::SetSpeed1, 0);
    p.Bind("Speed2", this, &C::Speed2, &C::SetSpeed2, 0);
    p.Bind("Speed3", this, &C::Speed3, &C::SetSpeed3, 0);
    p.Bind("Resist1", this, &C::Resist1, &C::SetResist1, 0);
    p.Bind("Resist2", this, &C::Resist2, &C::SetResist2, 0);
    p.Bind("Resist3", this, &C::Resist3, &C::SetResist3, 0);
    p.Bind("VeloxVersion", this, &C::veloxVersion_, &C::SetVeloxVersion, std::nullopt);
    p.Bind("UseMapCalibration", this, &C::useMapCalibration_, &C::SetUseMapCalibration, false);
    p.Bind("P1MaxValue", this, &C::P1MaxValue, &C::SetP1MaxValue, std::nullopt);
    p.Bind("P2MaxValue", this, &C::P2MaxValue, &C::SetP2MaxValue, std::nullopt);
    p.Bind("P3MaxValue", this, &C::P3MaxValue, &C::SetP3MaxValue, std::nullopt);
    p.Bind("P1MinValue", this, &C::P1MinValue, &C::SetP1MinValue, std::nullopt);
    p.Bind("P2MinValue", this, &C::P2MinValue, &C::SetP2MinValue, std::nullopt);
    p.Bind("P3MinValue", this, &C::P3MinValue, &C::SetP3MinValue, std::nullopt);
}

}  // namespace wct
