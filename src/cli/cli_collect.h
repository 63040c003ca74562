// SPDX-License-Identifier: Apache-2.0
// `wct collect`: the line's collector, from the broker into the central history, until
// SIGTERM or Ctrl-C. Trouble on either side is told on stderr and waited out.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "central/record_collector.h"
#include "common/command_line.h"

namespace wct::cli {

struct TCollectOptions {
    central::TCollectorSettings settings;  // filled by the command's check
    std::string broker;                    // as given
    std::optional<std::string> passwordFile;
};

// What "collect" takes, read into `o`.
void DeclareCollectOptions(TCommand& collect, TCollectOptions& o);

// 0 when stopped by `interrupted`; 1 with the reason on `err` when the database is none
// this wct can write.
int RunCollect(const TCollectOptions& options, std::ostream& out, std::ostream& err,
               const volatile bool* interrupted);

}  // namespace wct::cli
