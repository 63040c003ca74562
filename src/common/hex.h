// SPDX-License-Identifier: Apache-2.0
// Hexadecimal text of byte strings, as the protocol writes its frames, the trace echoes
// them and the recordings and simulator logs keep them. Two characters per byte, high
// digit first, no separators. These never fail: malformed text converts by the rules below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wct {

// 0 to 15 for a hex digit of either case, -1 for any other character.
int HexDigitValue(char c);

// Uppercase hex of every byte: {0x3E, 0x0A} gives "3E0A".
std::string BytesToHex(std::string_view bytes);

// The first 8 characters (at most) as a 32-bit value with wrap-around, so "FFFFFFFF" is
// -1. Letters of either case are digits; any other character counts as digit -1, so "G"
// is -1 and "1G" is 15. Empty text gives 0.
int32_t HexToInt(std::string_view text);

// Each pair of characters through HexToInt, low 8 bits kept. A lone last character of an
// odd-length text is converted as a single digit ("3E4" gives 3E 04), so no character is
// silently lost and nothing past the text is read.
std::string HexToBytes(std::string_view text);

}  // namespace wct
