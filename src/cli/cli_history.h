// SPDX-License-Identifier: Apache-2.0
// `wct history`: the check records kept in the history, newest first, filtered by
// serial, start date, outcome and station; as text lines, CSV or JSON; or their summary
// (first-pass yield per day and station, the steps that fail most). The history is a
// SQLite file or the line's central one in PostgreSQL. Needs no dongle.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "check/check_history.h"
#include "common/command_line.h"

namespace wct::cli {

struct THistoryOptions {
    std::string db;  // --db FILE or postgresql:// URL, or the default history
    check::THistoryFilter filter;
    bool csv = false;
    bool json = false;
    bool summary = false;
};

// What "history" takes, read into `o`.
void DeclareHistoryOptions(TCommand& history, THistoryOptions& o);

// 0, or 1 with the reason on `err` when the history cannot be read.
int RunHistory(const THistoryOptions& options, std::ostream& out, std::ostream& err);

}  // namespace wct::cli
