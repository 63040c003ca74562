// SPDX-License-Identifier: Apache-2.0
// What a set of check records says about a line: the first-pass yield per day and
// station, and the steps that fail most. Works on records as any history returns them.
//
// A console is known by its serial; a record without one is a console of its own. Its
// first check is its earliest record among those given: it counts for that record's day
// (UTC) and station, and passes first time when that record passed. Retests count as
// records of their day and station, not as consoles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check/check_record.h"

namespace wct::check {

struct TYieldRow {
    std::string day;  // "2026-12-08"
    std::string station;
    int consoles = 0;     // consoles checked here first
    int firstPassed = 0;  // of them, those whose first check passed
    int records = 0;      // every record of the day and station, retests included
    double Yield() const { return consoles == 0 ? 0 : static_cast<double>(firstPassed) / consoles; }
    bool operator==(const TYieldRow&) const = default;
};

struct TStepFailures {
    std::string step;
    int failed = 0;
    int erred = 0;
    bool operator==(const TStepFailures&) const = default;
};

// What the summary needs of one record: each history reads these alone, not whole
// records, so that a summary of a million records stays small.
struct TSummaryRow {
    std::string id;
    std::optional<int32_t> serial;
    std::string started;
    std::string station;
    TOutcome outcome = TOutcome::Pass;
    std::vector<std::pair<std::string, TOutcome>> notPassed;  // its steps that did not pass
};

TSummaryRow SummaryRowOf(const TCheckRecord& record);

struct TCheckSummary {
    std::vector<TYieldRow> yield;      // by day, then station
    std::vector<TStepFailures> steps;  // the steps that did not pass, most first
};

TCheckSummary Summarize(const std::vector<TSummaryRow>& rows);

}  // namespace wct::check
