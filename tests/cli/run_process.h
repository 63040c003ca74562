// Runs a program as a separate process and collects what it printed, for tests.
#pragma once

#include <string>
#include <vector>

namespace wct::test {

struct TProcessResult {
    int exitCode = -1;  // -1 when it did not exit by itself in time (it is then killed)
    std::string out;
    std::string err;
    int elapsedMs = 0;
};

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          int timeoutMs);

// What a program printed, a line each, without the line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace wct::test
