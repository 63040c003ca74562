// SPDX-License-Identifier: Apache-2.0
// The tables the protocol keeps: what is known of each console, the latest measures of
// each, and the resistance to send to each. The console and measures tables are indexed
// directly by console ID (entry 0 of the console table is the dongle); the resistance
// table holds console i + 1 in entry i.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace wct {

struct TMiraConsoleInfo {
    uint8_t ID = 0;
    uint8_t Version = 0;
    int32_t Serial = 0;
    uint8_t FirmwareMajor = 0;
    uint8_t FirmwareMinor = 0;
    int32_t TotalRolls = 0;
    bool Connected = false;
    bool Used = false;
    uint8_t ReadStatus = 3;   // 0 waiting, 1 data arrived, 2 timed out, 3 nothing read
    uint8_t WriteStatus = 3;  // 4 waiting, 5 acknowledged, 2 refused or timed out
    std::array<uint8_t, 8> Data{};
    int32_t DataCount = 0;
    uint8_t KeysTestStatus = 0;  // 0 waiting, 1 acknowledged, 2 refused or timed out
    uint8_t CardioTestStatus = 0;
    uint8_t ClockTriggerStatus = 0;
    uint8_t SignalsTestStatus = 0;
};

using TMiraConsolesInformation = std::vector<TMiraConsoleInfo>;

// Console table fields that SetConsoleField can set.
enum class TMiraConsoleField {
    ID,
    Version,
    Serial,
    Connected,
    TotalRolls,
    Used,
    FirmwareMajor,
    FirmwareMinor
};

// Sets one field of entry `id`, growing the table to id + 1 entries when needed.
// One-byte fields keep the low eight bits of `value`.
void SetConsoleField(TMiraConsolesInformation& table, uint8_t id, TMiraConsoleField field,
                     int32_t value);

// Speed in km/h of a console's roll, 45 mm across, turning at `rpm`: 2700 = 60 x 45,
// and 3.14 for pi, as the bench has always reckoned it.
constexpr double RollSpeedKmh(int rpm) {
    return rpm * 2700 * 3.14 / 1000000;
}

struct TMiraConsoleMeasure {
    uint8_t ConsoleID = 0;  // 0 in entries no console reported into
    uint16_t Rpm = 0;
    uint8_t HeartRate = 0;
    uint8_t Cadence = 0;
    uint8_t Keys = 0;
    double Revolutions = 0;    // accumulated while the rolls are started
    uint32_t MeasureTick = 0;  // tick of this console's previous measures; 0 before the first
    uint32_t IntervalMs = 0;   // the console's own pace between measures, smoothed; 0 unknown
    bool Silent = false;       // told silent (the protocol's WatchSilence), not heard since
};

// Measures older than this are no longer the console's: three of its own intervals, and
// at least kMinSilenceMs, so that one late frame is not a silence.
constexpr uint32_t kMinSilenceMs = 2000;
uint32_t SilenceAfterMs(const TMiraConsoleMeasure& measure);
// The console sent measures once and none for longer than SilenceAfterMs.
bool IsSilent(const TMiraConsoleMeasure& measure, uint32_t now);

// The measures table. Copies share one live table: a copy handed out with an event, or
// kept by a rider device, sees every later update.
struct TMiraWirelessConsoleMeasures {
    std::shared_ptr<std::vector<TMiraConsoleMeasure>> Measures =
        std::make_shared<std::vector<TMiraConsoleMeasure>>();
    std::vector<TMiraConsoleMeasure>& operator*() const { return *Measures; }
    std::vector<TMiraConsoleMeasure>* operator->() const { return Measures.get(); }
};

enum TMiraRollState : uint8_t { rsStopped = 1, rsPaused = 2, rsStarted = 3 };

// Decodes a valid measures frame with at least five payload bytes into its console's
// entry (growing the table as needed) and integrates roll revolutions while `rollState`
// is rsStarted. `now` is the tick count read just before. Returns the console ID.
// Across a silence the revolutions grow by SilenceAfterMs at the returning rpm at most:
// nobody knows what the roll did meanwhile, and the whole gap would be a jump.
uint8_t DecodeMeasures(const TMiraWirelessConsoleMeasures& table, std::string_view packet,
                       TMiraRollState rollState, uint32_t now);

struct TMiraConsoleResistance {
    uint8_t Resistance = 0;
    uint8_t Auxiliary = 0;  // kept per console, never sent
};

using TMiraConsolesResistance = std::vector<TMiraConsoleResistance>;

}  // namespace wct
