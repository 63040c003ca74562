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

// The worst outcome of the records; PASS for none.
TOutcome RunOutcome(const TCheckRun& run);

nlohmann::json RunToJson(const TCheckRun& run);
std::string JUnitText(const TCheckRun& run);

class EReportFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A report file written whole or not at all: created beside its final name when the
// object is made (so that a path that cannot be written is refused before the run), and
// renamed into place by Commit. Dropped without Commit, it leaves nothing behind.
class TReportFile {
public:
    explicit TReportFile(std::string path);  // throws EReportFile
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;
    void Commit(const std::string& text);  // throws EReportFile

private:
    std::string path_;
    std::string part_;
    int fd_ = -1;
};

}  // namespace wct::check
