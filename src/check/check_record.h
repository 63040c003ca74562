// SPDX-License-Identifier: Apache-2.0
// The result of one console's production check: a plain value, so that the history, the
// reports and any publisher can take it as it is. Its JSON form is the one the JSON
// report holds. Every record carries an id of its own (a random UUID), so that a copy
// that arrives twice is recognised as the same record.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace wct::check {

enum class TOutcome { Pass, Fail, Error };

// "PASS", "FAIL", "ERROR".
const char* OutcomeText(TOutcome outcome);
// The outcome named by `text` (as OutcomeText writes it); none for anything else.
std::optional<TOutcome> ParseOutcome(const std::string& text);
// The worse of two: ERROR over FAIL over PASS.
TOutcome Worse(TOutcome a, TOutcome b);

// One quantity a step measured, as a number with its unit apart, and the limits it was
// judged against. The value is rounded to the decimals it is shown with, and the limits
// are the ones shown, so that what reads as within its limits is.
struct TMeasure {
    std::string name;  // "rate", "lost", "total_rolls"
    double value = 0;
    std::string unit;  // "fps", "%"; "" for a count
    int decimals = 0;
    std::optional<double> min;    // passes at or above
    std::optional<double> max;    // passes at or below
    std::optional<double> below;  // passes below
    bool operator==(const TMeasure&) const = default;
};

struct TStepResult {
    std::string name;  // identity, keys, cardio, signals, clock, memory, total_rolls, radio
    TOutcome outcome = TOutcome::Pass;
    std::string value;   // what was measured, as shown, without blanks; "-" when nothing
    std::string limits;  // what the value was judged against, as shown; "-" when nothing
    uint32_t ms = 0;
    // Why it failed or erred; empty when it passed, unless a memory step put back what
    // an earlier run left in the console.
    std::string message;
    std::vector<TMeasure> measures;  // the step's numbers, where it measured any
};

// A measure as shown with `decimals`: its value and limits rounded (halves away from zero)
// as they are written, so that Within judges what a person reads.
TMeasure ShownMeasure(std::string name, std::string unit, int decimals, double value,
                      std::optional<double> min, std::optional<double> max = std::nullopt,
                      std::optional<double> below = std::nullopt);
// Whether `m.value` is within its limits.
bool Within(const TMeasure& m);
// A value or its limits as shown: "rate=36.00fps"; "rate>=3.60fps", "lost<5.0%",
// "total_rolls=10..20"; "" for none.
std::string ValueText(const TMeasure& m);
std::string LimitsText(const TMeasure& m);
nlohmann::json MeasuresToJson(const std::vector<TMeasure>& measures);
// Throws nlohmann::json::exception for anything MeasuresToJson does not write.
std::vector<TMeasure> MeasuresFromJson(const nlohmann::json& json);

struct TCheckRecord {
    std::string id;
    std::string runId;
    int console = 0;
    std::optional<int32_t> serial;  // none until the identity step read it
    std::optional<int> version;
    std::string firmware;  // "major.minor"; empty until read
    std::string plan;
    std::string station;
    std::string operatorName;
    std::string started;  // UTC, ISO 8601 with milliseconds
    std::string ended;
    TOutcome outcome = TOutcome::Pass;
    std::string message;  // "interrupted", "interrupted: dongle lost", "console left", or empty
    std::vector<TStepResult> steps;
};

nlohmann::json RecordToJson(const TCheckRecord& record);
// The record RecordToJson wrote. Throws nlohmann::json::exception for a field that is
// missing or of another type, and std::invalid_argument for an empty id or an outcome
// that is not PASS, FAIL or ERROR.
TCheckRecord RecordFromJson(const nlohmann::json& json);
// The serial as text or, when it could not be read, "unknown-console-N": a name for the
// record where one is needed, as a topic level (its id tells it from any other).
std::string SerialLabel(const TCheckRecord& record);
// The names of the steps that did not pass, joined by `separator`; "" when all passed.
std::string NotPassed(const TCheckRecord& record, const std::string& separator);

// A random (version 4) UUID in its usual text form.
std::string NewRecordId();
// Now in UTC, "2026-12-08T12:14:28.123Z".
std::string UtcNow();

}  // namespace wct::check
