// SPDX-License-Identifier: Apache-2.0
#include "app/bench_texts.h"

#include <algorithm>
#include <cstdio>

namespace wct {

std::string OneDecimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%3.1f", value);
    return text;
}

std::string HexDigits(long long value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*llX", digits,
                  static_cast<unsigned long long>(value) & 0xFFFFFFFFull);
    return text;
}

TMeasureTexts MeasureTexts(const TMiraConsoleMeasure& m) {
    return {std::to_string(m.Rpm), OneDecimal(RollSpeedKmh(m.Rpm)), std::to_string(m.HeartRate),
            std::to_string(m.Cadence), std::to_string(m.Keys)};
}

TConsoleTexts ConsoleTexts(const TMiraConsoleInfo& c) {
    return {HexDigits(c.Version, 6),
            HexDigits(c.Serial, 6),
            std::to_string(c.TotalRolls),
            c.Connected ? "Si" : "No",
            c.Used ? "Si" : "No",
            HexDigits(c.FirmwareMajor, 2) + " " + HexDigits(c.FirmwareMinor, 2)};
}

std::string ReadLine(const std::string& timeOfDay, const TMiraConsoleInfo& entry) {
    std::string line = timeOfDay + " ";
    const int count = std::clamp(entry.DataCount, 0, static_cast<int>(entry.Data.size()));
    // Piece by piece: " " + a temporary makes GCC 12 at -O3 warn falsely (-Wrestrict).
    for (int i = 0; i < count; ++i) {
        line += ' ';
        line += HexDigits(entry.Data[static_cast<size_t>(i)], 2);
    }
    return line;
}

}  // namespace wct
