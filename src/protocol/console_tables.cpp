// SPDX-License-Identifier: Apache-2.0
#include "protocol/console_tables.h"

#include <algorithm>

namespace wct {

void SetConsoleField(TMiraConsolesInformation& table, uint8_t id, TMiraConsoleField field,
                     int32_t value) {
    if (id >= table.size()) table.resize(size_t{id} + 1);
    TMiraConsoleInfo& entry = table[id];
    const auto byte = static_cast<uint8_t>(value);
    switch (field) {
        case TMiraConsoleField::ID:
            entry.ID = byte;
            break;
        case TMiraConsoleField::Version:
            entry.Version = byte;
            break;
        case TMiraConsoleField::Serial:
            entry.Serial = value;
            break;
        case TMiraConsoleField::Connected:
            entry.Connected = value != 0;
            break;
        case TMiraConsoleField::TotalRolls:
            entry.TotalRolls = value;
            break;
        case TMiraConsoleField::Used:
            entry.Used = value != 0;
            break;
        case TMiraConsoleField::FirmwareMajor:
            entry.FirmwareMajor = byte;
            break;
        case TMiraConsoleField::FirmwareMinor:
            entry.FirmwareMinor = byte;
            break;
    }
}

uint8_t DecodeMeasures(const TMiraWirelessConsoleMeasures& table, std::string_view packet,
                       TMiraRollState rollState, uint32_t now) {
    auto p = [&](size_t i) { return static_cast<uint8_t>(packet[4 + i]); };
    const uint8_t id = static_cast<uint8_t>(packet[2]);
    auto& measures = *table;
    if (id >= measures.size()) measures.resize(size_t{id} + 1);
    TMiraConsoleMeasure& m = measures[id];
    m.ConsoleID = id;
    m.Rpm = static_cast<uint16_t>(p(0) * 256 + p(1));
    m.HeartRate = p(2);
    m.Cadence = p(3);
    m.Keys = p(4);
    if (m.MeasureTick != 0) {
        // Signed 32-bit difference, so a tick counter wrap between frames stays right.
        const auto elapsed = static_cast<int32_t>(now - m.MeasureTick);
        const auto bound = static_cast<int32_t>(SilenceAfterMs(m));
        if (rollState == rsStarted) m.Revolutions += m.Rpm / 60000.0 * std::min(elapsed, bound);
        // The pace is learnt from the console's steady frames; a silence tells nothing of it.
        if (elapsed > 0 && elapsed <= bound) {
            const auto interval = static_cast<uint32_t>(elapsed);
            m.IntervalMs = m.IntervalMs == 0 ? interval : (3 * m.IntervalMs + interval) / 4;
        }
    }
    m.MeasureTick = now;
    return id;
}

uint32_t SilenceAfterMs(const TMiraConsoleMeasure& measure) {
    return std::max(kMinSilenceMs, 3 * measure.IntervalMs);
}

bool IsSilent(const TMiraConsoleMeasure& measure, uint32_t now) {
    return measure.MeasureTick != 0 &&
           static_cast<int32_t>(now - measure.MeasureTick) >
               static_cast<int32_t>(SilenceAfterMs(measure));
}

}  // namespace wct
