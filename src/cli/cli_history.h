// `wct history`: the check records kept in the history, newest first, filtered by
// serial, start date and outcome; as text lines, CSV or JSON. Needs no dongle.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "check/check_history.h"
#include "common/command_line.h"

namespace wct::cli {

struct THistoryOptions {
    std::string db;  // --db FILE, or the default history
    check::THistoryFilter filter;
    bool csv = false;
    bool json = false;
};

// What "history" takes, read into `o`.
void DeclareHistoryOptions(TCommand& history, THistoryOptions& o);

// 0, or 1 with the reason on `err` when the history cannot be read.
int RunHistory(const THistoryOptions& options, std::ostream& out, std::ostream& err);

}  // namespace wct::cli
