// SPDX-License-Identifier: Apache-2.0
// The texts the bench's grids and memos show for the protocol's tables: a console's
// measures, its identity data, and the bytes of a memory read. Qt-free, so that what an
// operator reads is tested without a window.
#pragma once

#include <string>

#include "protocol/console_tables.h"

namespace wct {

// One decimal, as the bench shows speeds: "%3.1f" (8.478 gives "8.5").
std::string OneDecimal(double value);

// Uppercase hex of the low 32 bits of `value`, at least `digits` digits.
std::string HexDigits(long long value, int digits);

// A row of the measures grid: "RPM", "Speed" (km/h), "Hr", "Cadence", "Keys".
struct TMeasureTexts {
    std::string rpm, speed, heartRate, cadence, keys;
};
TMeasureTexts MeasureTexts(const TMiraConsoleMeasure& measure);

// A row of the console grid: "Vers", "SN", "Rolls", "Connected", "Used", "Firmware".
struct TConsoleTexts {
    std::string version, serial, rolls, connected, used, firmware;
};
TConsoleTexts ConsoleTexts(const TMiraConsoleInfo& console);

// The line of a memory read: the time of day, a blank, then a blank and two hex digits
// for each byte the entry holds.
std::string ReadLine(const std::string& timeOfDay, const TMiraConsoleInfo& entry);

}  // namespace wct
