// The command line of `wct`: global options, one command and its arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_check.h"
#include "cli/cli_history.h"
#include "cli/cli_map.h"
#include "cli/cli_ride.h"

namespace wct::cli {

// A command line that cannot be run; exit code 2.
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TCliOptions {
    std::string port;                  // --port: tried first by the dongle search
    std::optional<std::string> trace;  // --trace FILE, or "-" for stdout
    bool time = false;                 // --time: trace lines start with the time of day
    std::optional<int> replyTimeout;   // --reply-timeout MS
    std::optional<int> wait;           // --wait MS
    bool simulate = false;             // --simulate: run on the built-in simulator
    // --record FILE: the command's wire traffic, both ways
    std::optional<std::string> record;

    std::string command;
    // Command arguments.
    std::optional<int> count;                 // register --count
    std::optional<int> console;               // --console N (255 for "all")
    std::optional<int> address;               // --address A
    std::optional<int> seconds;               // --seconds S
    bool csv = false;                         // measure --csv
    std::string test;                         // test keys|cardio|signals|clock
    std::string hex;                          // write HEXBYTES, send HEX
    std::vector<std::pair<int, int>> levels;  // resistance --set ID=LEVEL
    TMapOptions map;                          // map: its own options
    TRideOptions ride;                        // ride: its own options
    TCheckOptions check;                      // check: its own options
    THistoryOptions history;                  // history: its own options
    // stats --json, and stats --rate: the measures per second consoles are known to send
    bool json = false;
    std::optional<double> rate;
};

// Parses argv (without the program name). Throws EUsage with a message naming what is
// wrong.
TCliOptions ParseCommandLine(const std::vector<std::string>& args);

// Decimal or 0x-prefixed hex, within [min, max]; `what` names the value in the error.
int ParseNumber(const std::string& text, const std::string& what, int min, int max);

// Hex text of whole bytes; odd length is refused with "caratteri dispari", other
// characters with a message naming them.
std::string ParseHexBytes(const std::string& text);

extern const char* const kUsage;

}  // namespace wct::cli
