// SPDX-License-Identifier: Apache-2.0
// Where the trace memo's lines are logged: the window's log file, or, when that cannot
// be written (the executable's directory is read-only after a system install), a file
// of the same name in the user's state directory. The switch, or the loss of the log,
// is told once through `note`, which the window turns into a trace line.
#pragma once

#include <functional>
#include <string>

#include "app/log_to_file.h"

namespace wct {

class TTraceLog {
public:
    using TNote = std::function<void(const std::string& line)>;
    TTraceLog(TLogToFile& file, TNote note) : file_(file), note_(std::move(note)) {}

    // Writes one line, unchanged; never raises.
    void Write(const std::string& line);
    // No file could be written; lines are no longer logged.
    bool Lost() const { return lost_; }

private:
    TLogToFile& file_;
    TNote note_;
    bool lost_ = false;
};

// Makes the state folder (StateFolder), created when missing, the one relative log names
// are made absolute from: an installed bench logs there from the start. False when there
// is none or it cannot be made.
bool LogToStateDirectory();

}  // namespace wct
