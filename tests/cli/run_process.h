// Runs a program as a separate process and collects what it printed, for tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace wct::test {

struct TProcessResult {
    int exitCode = -1;  // -1 when it did not exit by itself in time (it is then killed)
    std::string out;
    std::string err;
    int elapsedMs = 0;
};

// Called with the process id and all it printed on stdout so far, each time that grows:
// a test acts on a line the moment it is out instead of sleeping for it.
using TOutputWatch = std::function<void(int pid, const std::string& out)>;

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          int timeoutMs, const TOutputWatch& watch = {});

// What a program printed, a line each, without the line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace wct::test
