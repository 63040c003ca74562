// SPDX-License-Identifier: Apache-2.0
// The command line of `wct`: global options, one command and its arguments.
//
// Every command declares what it takes in one place: the simple ones in cli_options.cpp,
// map, ride and trainer beside their code (DeclareMapOptions, ...). A new option is one
// line there; a new command one block in DeclareCommands.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_check.h"
#include "cli/cli_collect.h"
#include "cli/cli_history.h"
#include "cli/cli_map.h"
#include "cli/cli_publish.h"
#include "cli/cli_ride.h"
#include "cli/cli_trainer.h"
#include "common/command_line.h"
#include "common/heart_cut.h"

namespace wct::cli {

using wct::EUsage;

struct TCliOptions {
    std::string port;                  // --port: tried first by the dongle search
    std::optional<std::string> trace;  // --trace FILE, or "-" for stdout
    bool time = false;                 // --time: trace lines start with the time of day
    std::optional<int> replyTimeout;   // --reply-timeout MS
    std::optional<int> wait;           // --wait MS
    bool simulate = false;             // --simulate: run on the built-in simulator
    // --record FILE: the command's wire traffic, both ways
    std::optional<std::string> record;
    // --pcap FILE: the same traffic as a pcapng capture; export's output
    std::optional<std::string> pcap;

    std::string command;
    // Command arguments.
    bool usb = false;                         // ports --usb
    std::optional<int> count;                 // register --count
    std::optional<int> console;               // --console N (255 for "all")
    std::optional<int> address;               // --address A
    std::optional<int> seconds;               // --seconds S
    bool csv = false;                         // measure --csv
    std::string test;                         // test keys|cardio|signals|clock
    std::string hex;                          // write HEXBYTES, send HEX
    std::string recording;                    // export REC
    std::vector<std::pair<int, int>> levels;  // resistance --set ID=LEVEL
    int maxHeartRate = THeartCut::kDefaultMaximum;  // resistance --max-hr
    TMapOptions map;                          // map: its own options
    TRideOptions ride;                        // ride: its own options
    TTrainerOptions trainer;                  // trainer: its own options
    TPublishOptions publish;                  // publish: its own options
    TCheckOptions check;                      // check: its own options
    THistoryOptions history;                  // history: its own options
    TCollectOptions collect;                  // collect: its own options
    // stats --json, and stats --rate: the measures per second consoles are known to send
    bool json = false;
    std::optional<double> rate;
};

// wct's command line, its values going to `o`, which must outlive it.
std::unique_ptr<TCommandLine> WctCommandLine(TCliOptions& o);

// Parses argv (without the program name). Throws EUsage with a message naming what is
// wrong. --help and --version leave the options as they are.
TCliOptions ParseCommandLine(const std::vector<std::string>& args);

// Decimal or 0x-prefixed hex, within [min, max]; `what` names the value in the error.
int ParseNumber(const std::string& text, const std::string& what, int min, int max);

// Hex text of whole bytes; odd length is refused with "caratteri dispari", other
// characters with a message naming them.
std::string ParseHexBytes(const std::string& text);

// Readers of the usual values, for TCommand::Option.
template <class T>  // int or std::optional<int>
TValueReader Number(T& target, int min, int max) {
    return [&target, min, max](const std::string& name, const std::string& value) {
        target = ParseNumber(value, name, min, max);
    };
}
template <class T>  // std::string or std::optional<std::string>
TValueReader Text(T& target) {
    return [&target](const std::string&, const std::string& value) { target = value; };
}
// A name people read in the records (operator, station, bench): printable text only
// (NameProblem), refused naming the option otherwise.
TValueReader Name(std::string& target);
// A finite number written as C writes it; nothing for any other text.
std::optional<double> ReadDecimal(const std::string& text);
// The same, refusing other text with "WHAT: 'TEXT' is not a number".
double ParseDecimal(const std::string& text, const std::string& what);
template <class T>  // double or std::optional<double>
TValueReader Decimal(T& target) {
    return [&target](const std::string& name, const std::string& value) {
        target = ParseDecimal(value, name);
    };
}

// --max-hr BPM: the heart rate above which the brake is held at 0 (220 unless given).
TCommand& MaxHeartRate(TCommand& c, int& bpm);
// The stderr line of a heart cut that started or ended, from the rule's own texts.
void TellHeartCut(std::ostream& err, const THeartCut& rule);

}  // namespace wct::cli
