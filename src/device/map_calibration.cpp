#include "device/map_calibration.h"

namespace wct {
namespace {

// One published integer of the calibration, read and written through its accessors.
void AddInt(TPropertyList& p, const char* name, TMapCalibration* c,
            int32_t (TMapCalibration::*get)() const, void (TMapCalibration::*set)(int32_t),
            std::optional<int64_t> def) {
    p.AddInteger(
        name, [c, get] { return (c->*get)(); },
        [c, set](int64_t v) { (c->*set)(static_cast<int32_t>(v)); }, def);
}

}  // namespace

void TMapCalibration::DefineProperties(TPropertyList& p) {
    using C = TMapCalibration;
    AddInt(p, "CalibrationP1", this, &C::CalibrationP1, &C::SetCalibrationP1, 1);
    AddInt(p, "CalibrationP2", this, &C::CalibrationP2, &C::SetCalibrationP2, 1);
    AddInt(p, "CalibrationP3", this, &C::CalibrationP3, &C::SetCalibrationP3, 1);
    AddInt(p, "Speed1", this, &C::Speed1, &C::SetSpeed1, 0);
    AddInt(p, "Speed2", this, &C::Speed2, &C::SetSpeed2, 0);
    AddInt(p, "Speed3", this, &C::Speed3, &C::SetSpeed3, 0);
    AddInt(p, "Resist1", this, &C::Resist1, &C::SetResist1, 0);
    AddInt(p, "Resist2", this, &C::Resist2, &C::SetResist2, 0);
    AddInt(p, "Resist3", this, &C::Resist3, &C::SetResist3, 0);
    p.AddFloat(
        "VeloxVersion", [this] { return veloxVersion_; }, [this](double v) { SetVeloxVersion(v); },
        std::nullopt);
    p.AddBoolean(
        "UseMapCalibration", [this] { return useMapCalibration_; },
        [this](bool v) { SetUseMapCalibration(v); }, false);
    AddInt(p, "P1MaxValue", this, &C::P1MaxValue, &C::SetP1MaxValue, std::nullopt);
    AddInt(p, "P2MaxValue", this, &C::P2MaxValue, &C::SetP2MaxValue, std::nullopt);
    AddInt(p, "P3MaxValue", this, &C::P3MaxValue, &C::SetP3MaxValue, std::nullopt);
    AddInt(p, "P1MinValue", this, &C::P1MinValue, &C::SetP1MinValue, std::nullopt);
    AddInt(p, "P2MinValue", this, &C::P2MinValue, &C::SetP2MinValue, std::nullopt);
    AddInt(p, "P3MinValue", this, &C::P3MinValue, &C::SetP3MinValue, std::nullopt);
}

}  // namespace wct
