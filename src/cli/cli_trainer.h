// SPDX-License-Identifier: Apache-2.0
// `wct trainer`: the wired trainer driver from a terminal.
//
//   wct [--port PATH] [--simulate] [--pcap FILE] trainer [--generation G]
//       identify | ride --seconds S [--load L | --slope PCT] [--interval MS] [--tries N]
//       [--csv]
//
// identify prints "version serial product-version"; ride connects, starts a ride and
// prints one line per statistics step, S × 1000 / MS of them. Exit codes as for every
// wct command: 0 done, 1 wrong identification answer or a trainer given up after N
// repair tries, 2 usage, 3 no answer or the port cannot be opened.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/heart_cut.h"

namespace wct::cli {

struct TTrainerOptions {
    std::string port;
    bool simulate = false;
    std::optional<std::string> pcap;  // the trainer's traffic as a pcapng capture
    // Which byte-protocol generation (1 to 3) the trainer is, or the simulator's
    // generation; frames are tried when none below 4 is named.
    std::optional<double> generation;
    std::string command;  // identify or ride
    int seconds = 0;
    std::optional<int> load;
    std::optional<double> slope;
    int intervalMs = 1000;
    int tries = 10;  // repair tries before the trainer is given up
    int maxHeartRate = THeartCut::kDefaultMaximum;  // bpm above which the load is held at 0
    bool csv = false;
};

// What `trainer` and its commands take, their values going to `o`; port and simulate
// are the global options', set by the caller.
void DeclareTrainerOptions(TCommand& trainer, TTrainerOptions& o);
int RunTrainer(const TTrainerOptions& options, std::ostream& out, std::ostream& err,
               const volatile bool* interrupted = nullptr);

}  // namespace wct::cli
