// SPDX-License-Identifier: Apache-2.0
#include "app/trace_log.h"

#include <sys/stat.h>

#include <cerrno>

#include "common/state_folder.h"

namespace wct {
namespace {

// mkdir -p, private to the user as the state directory should be.
bool MakeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

bool LogToStateDirectory() {
    const std::string directory = StateFolder();
    if (directory.empty() || !MakeDirectories(directory)) return false;
    SetExecutableDirectory(directory);
    return true;
}

void TTraceLog::Write(const std::string& line) {
    if (lost_) return;
    std::string reason;
    try {
        file_.WriteLog(line, 0, 0);
        return;
    } catch (const EInOutError& e) {
        reason = e.what();
    }

    const std::string directory = StateFolder();
    const std::string& current = file_.LogFileName();
    const std::string fallback = directory + current.substr(current.rfind('/') + 1);
    if (!directory.empty() && fallback != current && MakeDirectories(directory)) {
        file_.SetLogFileName(fallback);
        try {
            file_.WriteLog(line, 0, 0);
            note_(reason + "; the trace is logged to " + fallback);
            return;
        } catch (const EInOutError& e) {
            reason += std::string("; ") + e.what();
        }
    }
    lost_ = true;
    note_(reason + "; the trace is not logged");
}

}  // namespace wct
