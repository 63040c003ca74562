// Runs one `wct` command on a TMiraWirelessProtocol over the plain main thread, writing
// results to `out` (stable, parseable) and messages to `err`.
#pragma once

#include <iosfwd>
#include <memory>

#include "cli/cli_options.h"

namespace wct::cli {

enum TExitCode { exDone = 0, exFailed = 1, exUsage = 2, exNoDongle = 3 };

// `interrupted` is polled during long waits (measure, resistance) to end them early.
int RunCommand(const TCliOptions& options, std::ostream& out, std::ostream& err,
               const volatile bool* interrupted = nullptr);

}  // namespace wct::cli
