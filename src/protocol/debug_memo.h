// SPDX-License-Identifier: Apache-2.0
// The text list the protocol writes its trace into, one line per frame or event. The
// app shows it in a memo (and copies it to the log file); the CLI prints or writes it.
#pragma once

#include <string>
#include <vector>

namespace wct {

class TDebugMemo {
public:
    virtual ~TDebugMemo() = default;
    virtual void Add(const std::string& line) = 0;
};

// Keeps the lines in memory.
class TStringsMemo : public TDebugMemo {
public:
    void Add(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

}  // namespace wct
