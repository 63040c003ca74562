// SPDX-License-Identifier: Apache-2.0
// `wct check`: runs the check plan on one console or on every console present, prints
// one line per step, keeps one record per console in the history and writes the JSON
// and JUnit reports.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "check/check_plan.h"
#include "cli/cli_publish.h"
#include "common/command_line.h"

namespace wct::testbench {
class TTestBench;
}

namespace wct::cli {

struct TCheckOptions {
    std::optional<int> console;  // --console N
    bool all = false;            // --all
    check::TCheckPlan plan = check::DefaultPlan();
    std::optional<std::string> report;  // --report FILE.json
    std::optional<std::string> junit;   // --junit FILE.xml
    std::string db;                     // --db FILE, or the default history
    std::string operatorName;           // --operator, else $USER
    std::string station;                // --station, else the host name
    TBrokerOptions broker;              // records are published when --broker is given
};

// What "check" takes, read into `o`; the plan file is read with the line, and a plan with
// an error is refused (EUsage) naming its line and key.
void DeclareCheckOptions(TCommand& check, TCheckOptions& o);

// Runs on the bench, its protocol connected to the dongle. The history and the report files are
// opened before the first console is checked; one that cannot be is exit code 2 and
// nothing is checked. 0 when every step passed, 1 otherwise (or when a console asked for
// or any console is not present, or a report or sink could not keep a record); 4 when the
// history could not keep a record, which stops the run. `waitMs`: how long consoles are
// looked for.
// With a broker, each record is also published; broker trouble is told on `err` and
// never changes the exit code.
int RunCheck(const TCheckOptions& options, std::optional<int> waitMs, testbench::TTestBench& bench,
             std::ostream& out, std::ostream& err, const std::function<bool()>& interrupted);

}  // namespace wct::cli
