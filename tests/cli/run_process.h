// SPDX-License-Identifier: Apache-2.0
// Runs a program as a separate process and collects what it printed, for tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace wct::test {

struct TProcessResult {
    int exitCode = -1;  // -1 when it did not exit by itself in time (it is then killed)
    int signal = 0;     // the signal that ended it, when one did before the time-out
    std::string out;
    std::string err;
    int elapsedMs = 0;
};

// Called with the process id and all it printed on stdout so far, each time that grows:
// a test acts on a line the moment it is out instead of sleeping for it.
using TOutputWatch = std::function<void(int pid, const std::string& out)>;

// Where the program's standard output goes when it is not collected, and how it starts.
struct TProcessSetup {
    std::string outputFile;       // opened for writing as its stdout, e.g. "/dev/full"
    bool closedPipe = false;      // its stdout a pipe whose reader has gone
    bool sigpipeIgnored = false;  // started with SIGPIPE ignored, as some parents do
    // Called with the process id about every 100 ms while it runs: a test acts on what
    // the program does outside its stdout.
    std::function<void(int pid)> running;
};

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          int timeoutMs, const TOutputWatch& watch = {},
                          const TProcessSetup& setup = {});

// What a program printed, a line each, without the line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace wct::test
