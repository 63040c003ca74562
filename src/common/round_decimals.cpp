// SPDX-License-Identifier: Apache-2.0
#include "common/round_decimals.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace wct {
namespace {

// Integer power by repeated multiplication, so 10^n is exact for the n in use.
long double IntPower(long double base, int exponent) {
    long double result = 1.0L;
    int count = exponent < 0 ? -exponent : exponent;
    for (int i = 0; i < count; ++i) result *= base;
    return exponent < 0 ? 1.0L / result : result;
}

}  // namespace

long double RoundDecimals(int n, long double x) {
    const long double scale = IntPower(10.0L, n);
    const long double shifted = x >= 0 ? x * scale + 0.5L : x * scale - 0.5L;
    const long double result = std::trunc(shifted) / scale;
    return std::fabs(result) <= 1e-8L ? 0.0L : result;
}

int32_t RoundHalfEven(long double x) {
    if (std::isnan(x)) return 0;
    constexpr long double kLow = std::numeric_limits<int32_t>::min();
    constexpr long double kHigh = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::nearbyint(std::clamp(x, kLow, kHigh)));
}

}  // namespace wct
