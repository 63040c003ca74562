// SPDX-License-Identifier: Apache-2.0
// `wct map`: the resistance lookup from a terminal, one point or a sweep read from stdin.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"

namespace wct::cli {

struct TMapOptions {
    std::optional<std::string> file;  // a map in stored text form; the shipped one otherwise
    std::optional<double> version;    // trainer version as a console reports it
    double calibration = 1;
    double reducer = 1;
    bool miles = false;
    std::optional<double> speed;  // with power: one point; without either: pairs on stdin
    std::optional<int> power;
};

// What `map` takes, its values going to `o`.
void DeclareMapOptions(TCommand& map, TMapOptions& o);

// Prints "LEVEL POWER_TO_SHOW" for the point, or for each "speed power" line of `in`.
// A map that cannot be read: the map error on `err`, exit 2. A line of `in` that cannot
// be read or looked up is reported on `err` and skipped, and the exit code is 1.
int RunMap(const TMapOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace wct::cli
