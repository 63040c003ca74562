// SPDX-License-Identifier: Apache-2.0
// Check records for the central history's tests: whole ones, with steps and measures.
#pragma once

#include <string>

#include "check/check_record.h"

namespace wct::test {

inline check::TCheckRecord SampleRecord(int32_t serial, const std::string& started,
                                        check::TOutcome outcome, const std::string& station) {
    using check::TOutcome;
    check::TCheckRecord r;
    r.id = check::NewRecordId();
    r.runId = check::NewRecordId();
    r.console = 3;
    r.serial = serial;
    r.version = 16;
    r.firmware = "2.3";
    r.plan = "default";
    r.station = station;
    r.operatorName = "anna";
    r.started = started;
    r.ended = started;
    r.outcome = outcome;
    r.steps = {{"identity", TOutcome::Pass, "serial=" + std::to_string(serial), "-", 12, "", {}},
               {"radio",
                outcome,
                "rate=36.00fps",
                "rate>=3.60fps",
                2000,
                outcome == TOutcome::Pass ? "" : "too few frames",
                {check::ShownMeasure("rate", "fps", 2, 36, 3.6)}}};
    return r;
}

}  // namespace wct::test
