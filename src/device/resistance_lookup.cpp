// SPDX-License-Identifier: Apache-2.0
// The inverse lookup of the resistance map: which level makes the rider produce a power
// at a speed.
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "common/round_decimals.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

constexpr double kKmPerMile = 1.609;

// The strongest level trainers of versions 4 and 4.5 may brake at a speed (km/h), below
// 20 km/h; 0 for no limit.
int32_t SpeedCap(double v) {
    if (v >= 20) return 0;
    if (v < 10) return 160;
    return std::min(255, 170 + 10 * static_cast<int32_t>(v - 10));
}

}  // namespace

double TVeloxDeviceW::Interpolate(double x, double x1, double x2, double y1, double y2) {
    if (x1 > x2 || y1 > y2) throw std::domain_error("x1>x2 or y1>y2");
    if (x1 == x2) return y1;
    return y1 + (x - x1) / (x2 - x1) * (y2 - y1);
}

int32_t TVeloxDeviceW::ResistanceForPower(int32_t power, std::vector<std::string>* trace,
                                          double speed) {
    if (resistanceMap_ == nullptr)
        throw std::logic_error(Name() + ": no ResistanceMap to look the resistance up in");
    const TResistanceMap& map = *resistanceMap_;
    // A map whose loading failed at its header has rows but no speed columns.
    if (map.RowCount() < 2 || map.ColumnCount() < 2)
        throw std::logic_error(Name() + ": the resistance map is not loaded (LoadMap)");

    const double v = UOM() == umMiles ? speed * kKmPerMile : speed;
    if (v == 0) return 0;

    // The speed columns around v; below the first speed its powers are used as they are.
    const int columns = map.ColumnCount();
    const double* speeds = map.Row(0);
    int lo = 1;
    int hi = 1;
    for (int c = columns - 1; c >= 1; --c) {
        if (v >= speeds[c]) {
            lo = c;
            hi = v == speeds[c] || c == columns - 1 ? c : c + 1;
            break;
        }
    }
    const auto powerOf = [&](int row) {
        return Interpolate(v, speeds[lo], speeds[hi], map.Cell(row, lo), map.Cell(row, hi));
    };
    // The strongest level with a power at this speed. A loaded map has one in row 1; the
    // bound keeps a map whose loading failed half-way inside its grid.
    int top = map.RowCount() - 1;
    while (top > 1 && map.Cell(top, hi) == 0) --top;

    int j = top;
    double pj = powerOf(j);
    while (power <= pj && j != 1) pj = powerOf(--j);

    int32_t result = 0;
    if (j == top) {
        result = RoundHalfEven(map.Cell(top, 0));
        powerToShow_ = RoundHalfEven(pj);
    } else if (power > pj) {
        result = RoundHalfEven(Interpolate(power, pj, powerOf(j + 1), RoundHalfEven(map.Cell(j, 0)),
                                           RoundHalfEven(map.Cell(j + 1, 0))));
        powerToShow_ = power;
    } else {
        result = 0;
        powerToShow_ = RoundHalfEven(pj);
    }
    result = RoundHalfEven(result * calibration_ * resistanceReducer_);
    if (veloxVersion_ == 4 || veloxVersion_ == 4.5) {
        const int32_t cap = SpeedCap(v);
        if (cap != 0 && result > cap) result = cap;
    }
    if (trace != nullptr) {
        char line[96];
        std::snprintf(line, sizeof line, "%2.1f\t%d\t%d\t%d\t%d", v, power, result, powerToShow_,
                      RoundHalfEven(v));
        trace->emplace_back(line);
    }
    return result;
}

}  // namespace wct
