// SPDX-License-Identifier: Apache-2.0
// The summary of a set of records: first-pass yield per day and station, the steps that
// fail most; and a record read back from its JSON form.
#include "check/check_summary.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "check/check_record.h"

namespace wct::check {
namespace {

TCheckRecord Checked(std::optional<int32_t> serial, const std::string& started, TOutcome outcome,
                     const std::string& station, const std::string& failedStep = "") {
    TCheckRecord r;
    r.id = NewRecordId();
    r.serial = serial;
    r.station = station;
    r.started = started;
    r.outcome = outcome;
    r.steps = {{"identity", TOutcome::Pass, "-", "-", 1, "", {}}};
    if (!failedStep.empty()) r.steps.push_back({failedStep, outcome, "-", "-", 1, "why", {}});
    return r;
}

TEST(CheckSummaryTest, FirstPassYieldCountsEachConsoleOnceWhereItWasFirstChecked) {
    const std::vector<TCheckRecord> records = {
        // Given newest first, as the histories give them.
        Checked(3, "2026-12-02T09:00:00.000Z", TOutcome::Pass, "a"),  // retest of 3
        Checked(4, "2026-12-02T08:00:00.000Z", TOutcome::Error, "b", "radio"),
        Checked(std::nullopt, "2026-12-01T10:00:00.000Z", TOutcome::Fail, "a", "keys"),
        Checked(3, "2026-12-01T09:00:00.000Z", TOutcome::Fail, "a", "radio"),
        Checked(2, "2026-12-01T08:30:00.000Z", TOutcome::Fail, "a", "radio"),
        Checked(1, "2026-12-01T08:00:00.000Z", TOutcome::Pass, "a"),
    };
    std::vector<TSummaryRow> rows;
    for (const TCheckRecord& r : records) rows.push_back(SummaryRowOf(r));
    const TCheckSummary summary = Summarize(rows);
    const std::vector<TYieldRow> yield = {
        {"2026-12-01", "a", 4, 1, 4},
        {"2026-12-02", "a", 0, 0, 1},
        {"2026-12-02", "b", 1, 0, 1},
    };
    EXPECT_EQ(summary.yield, yield);
    EXPECT_DOUBLE_EQ(summary.yield[0].Yield(), 0.25);
    EXPECT_EQ(summary.yield[1].Yield(), 0);
    const std::vector<TStepFailures> steps = {{"radio", 2, 1}, {"keys", 1, 0}};
    EXPECT_EQ(summary.steps, steps);

    EXPECT_TRUE(Summarize({}).yield.empty());
    EXPECT_TRUE(Summarize({}).steps.empty());
}

TEST(RecordJsonTest, ARecordComesBackFromItsJsonAndAnythingElseIsRefused) {
    TCheckRecord r = Checked(42, "2026-12-01T08:00:00.000Z", TOutcome::Fail, "a", "radio");
    r.steps.back().measures = {ShownMeasure("rate", "fps", 2, 3.456, 3.6)};
    r.firmware = "2.3";
    const nlohmann::json json = RecordToJson(r);
    EXPECT_EQ(RecordToJson(RecordFromJson(json)), json);
    TCheckRecord unknown = r;
    unknown.serial.reset();
    unknown.firmware.clear();
    EXPECT_EQ(RecordToJson(RecordFromJson(RecordToJson(unknown))), RecordToJson(unknown));

    const struct {
        const char* name;
        const char* key;
        nlohmann::json value;  // null: the key removed
    } cases[] = {
        {"no id", "id", nullptr},
        {"an empty id", "id", ""},
        {"a serial as text", "serial", "42"},
        {"an unknown outcome", "outcome", "MAYBE"},
        {"steps not a list", "steps", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json bad = json;
        if (c.value.is_null())
            bad.erase(c.key);
        else
            bad[c.key] = c.value;
        EXPECT_ANY_THROW(RecordFromJson(bad));
    }
}

}  // namespace
}  // namespace wct::check
