// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace wct {

// Rounds x to n decimals with halves away from zero; a result within 1e-8 of zero is
// exactly 0 (so no "-0" reaches a display).
long double RoundDecimals(int n, long double x);

// x brought to the nearest integer, halves to even. Saturating: a value beyond the int32
// range (a broken map, an absurd speed) gives the nearest one that fits, and a value that
// is no number gives 0.
int32_t RoundHalfEven(long double x);

}  // namespace wct
