#pragma once

namespace wct {

// Rounds x to n decimals with halves away from zero; a result within 1e-8 of zero is
// exactly 0 (so no "-0" reaches a display).
long double RoundDecimals(int n, long double x);

}  // namespace wct
