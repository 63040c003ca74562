// SPDX-License-Identifier: Apache-2.0
// Runs one `wct` command on a TMiraWirelessProtocol over the plain main thread, writing
// results to `out` (stable, parseable) and messages to `err`.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "serial/ecomport.h"

namespace wct::cli {

enum TExitCode { exDone = 0, exFailed = 1, exUsage = 2, exNoDongle = 3, exNotKept = 4 };

// "cannot open PATH: REASON" for a port that failed to open: the device path tried, why in
// the system's words when an error number is behind it; a refused permission says how
// operators get it.
std::string CannotOpen(const std::string& port, const EComPort& failure);

// `interrupted` is polled during long waits (measure, resistance) to end them early.
int RunCommand(const TCliOptions& options, std::ostream& out, std::ostream& err,
               const volatile bool* interrupted = nullptr);

}  // namespace wct::cli
