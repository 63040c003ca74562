// SPDX-License-Identifier: Apache-2.0
// `wct ride`: one rider on the first console that joins, as the main window drives its
// rider device, with the resistance loop closed on the shipped map.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/heart_cut.h"

namespace wct::testbench {
class TTestBench;
}

namespace wct::cli {

struct TRideOptions {
    int seconds = 10;
    double slope = 0;  // percent
    int weight = 0;    // kg
    bool csv = false;
    int maxHeartRate = THeartCut::kDefaultMaximum;  // bpm above which the brake is off
};

// What `ride` takes, its values going to `o`.
void DeclareRideOptions(TCommand& ride, TRideOptions& o);

// Rides the bench's rider device on its protocol, which is connected to the dongle: one
// line per statistics step
// (time ms, console, speed, distance, cadence, heart rate, power, calories, resistance
// level, competitor state) until the time is up or `interrupted` is set. No console
// joining within `waitMs` (the protocol's own wait when absent), or a console lost on
// the way: a message on `err` and exit code 1.
int RunRide(const TRideOptions& options, std::optional<int> waitMs, testbench::TTestBench& bench,
            std::ostream& out, std::ostream& err, const volatile bool* interrupted);

}  // namespace wct::cli
