// SPDX-License-Identifier: Apache-2.0
// The reports of one check run, for the factory's systems: a JSON document holding the
// run and its records (each as RecordToJson writes it), and a JUnit XML file with one
// testsuite per console and one testcase per step, which CI dashboards read as it is.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check_record.h"

namespace wct::check {

struct TCheckRun {
    std::string id;
    std::string plan;
    std::string station;
    std::string operatorName;
    std::string started;
    std::string ended;
    bool interrupted = false;
    std::vector<TCheckRecord> records;
};

// The JSON report's format version, its "format_version": raised when a field changes its
// meaning or goes, not when one is added. The reports before it had none and their values
// as text only. docs/check-report.schema.json describes it.
constexpr int kReportFormatVersion = 2;

// The worst outcome of the records; PASS for none.
TOutcome RunOutcome(const TCheckRun& run);

nlohmann::json RunToJson(const TCheckRun& run);
std::string JUnitText(const TCheckRun& run);

class EReportFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why a report cannot be written to `path`, or "" when it can. "-" is the standard
// output. A path that names a folder, lies in a folder that is missing or cannot be
// written, or names something that cannot be written is refused, so that a run can say
// so before its first console.
std::string CheckReportPath(const std::string& path);

// A report file, written whole or not at all where that can be done. A regular file (or
// a new one) is written beside its final name at Commit and renamed into place; a
// symbolic link has its target written that way, so the link stays. Anything else ("-"
// for the standard output, a FIFO, a device) is written through at Commit. The path is
// checked (CheckReportPath, and a file made and removed beside it) when the object is
// made; until Commit nothing of it is on disk, so a run killed meanwhile leaves nothing.
class TReportFile {
public:
    explicit TReportFile(std::string path);  // throws EReportFile
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;
    void Commit(const std::string& text);  // throws EReportFile; once

private:
    [[noreturn]] void Fail(int error) const;
    // The template of the file written beside the target.
    std::string PartName() const;

    std::string path_;    // as given, for messages
    std::string target_;  // links followed: what is replaced or written
    bool through_ = true;
    bool committed_ = false;
};

}  // namespace wct::check
