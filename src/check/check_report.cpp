// SPDX-License-Identifier: Apache-2.0
#include "check/check_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>

namespace wct::check {
namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // Control characters other than tab and line ends are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += '?';
                else
                    out += c;
        }
    }
    return out;
}

std::string Seconds(uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / 1000);
    return text;
}

std::string Attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + Escaped(value) + "\"";
}

// JUnit's timestamp has no zone and no fraction; records are in UTC.
std::string JUnitTimestamp(const std::string& iso) {
    return iso.substr(0, 19);
}

// All of `text` to `fd`; false with errno set when it cannot.
bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// `path` with its symbolic links followed to what they name, which may not exist yet;
// none for a loop.
std::optional<std::string> Followed(const std::string& path) {
    std::filesystem::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error)))
            return current.string();
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error) return current.string();
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return std::nullopt;
}

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? "." : folder;
}

std::string Property(const char* name, const std::string& value) {
    return std::string("      <property") + Attribute("name", name) + Attribute("value", value) +
           "/>\n";
}

}  // namespace

TOutcome RunOutcome(const TCheckRun& run) {
    TOutcome outcome = TOutcome::Pass;
    for (const TCheckRecord& r : run.records) outcome = Worse(outcome, r.outcome);
    return outcome;
}

nlohmann::json RunToJson(const TCheckRun& run) {
    nlohmann::json records = nlohmann::json::array();
    for (const TCheckRecord& r : run.records) records.push_back(RecordToJson(r));
    return {{"format_version", kReportFormatVersion},
            {"run",
             {{"id", run.id},
              {"plan", run.plan},
              {"station", run.station},
              {"operator", run.operatorName},
              {"started", run.started},
              {"ended", run.ended},
              {"outcome", OutcomeText(RunOutcome(run))},
              {"interrupted", run.interrupted},
              {"consoles", run.records.size()}}},
            {"records", records}};
}

std::string JUnitText(const TCheckRun& run) {
    size_t tests = 0, failures = 0, errors = 0;
    uint64_t totalMs = 0;
    std::string suites;
    for (size_t i = 0; i < run.records.size(); ++i) {
        const TCheckRecord& r = run.records[i];
        const std::string serial = r.serial ? std::to_string(*r.serial) : "unknown";
        const std::string classname = "console" + std::to_string(r.console) + ".serial" + serial;
        size_t f = 0, e = 0;
        uint64_t ms = 0;
        std::string cases;
        for (const TStepResult& s : r.steps) {
            ms += s.ms;
            cases += "    <testcase" + Attribute("name", s.name) +
                     Attribute("classname", classname) + Attribute("time", Seconds(s.ms));
            if (s.outcome == TOutcome::Pass) {
                cases += "/>\n";
                continue;
            }
            const bool failed = s.outcome == TOutcome::Fail;
            (failed ? f : e) += 1;
            const std::string message = s.message.empty() ? s.value : s.message;
            cases += ">\n      <" + std::string(failed ? "failure" : "error") +
                     Attribute("message", message) + Attribute("type", OutcomeText(s.outcome)) +
                     ">" + Escaped("value " + s.value + ", limits " + s.limits) + "</" +
                     (failed ? "failure" : "error") + ">\n    </testcase>\n";
        }
        tests += r.steps.size();
        failures += f;
        errors += e;
        totalMs += ms;
        suites += "  <testsuite" +
                  Attribute("name", "console " + std::to_string(r.console) + " serial " + serial) +
                  Attribute("id", std::to_string(i)) +
                  Attribute("tests", std::to_string(r.steps.size())) +
                  Attribute("failures", std::to_string(f)) +
                  Attribute("errors", std::to_string(e)) + Attribute("time", Seconds(ms)) +
                  Attribute("timestamp", JUnitTimestamp(r.started)) +
                  Attribute("hostname", r.station) + ">\n    <properties>\n" +
                  Property("record_id", r.id) + Property("serial", serial) +
                  Property("version", r.version ? std::to_string(*r.version) : "") +
                  Property("firmware", r.firmware) + Property("operator", r.operatorName) +
                  Property("station", r.station) + Property("plan", r.plan) +
                  Property("outcome", OutcomeText(r.outcome)) + Property("message", r.message) +
                  "    </properties>\n" + cases + "  </testsuite>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" +
           Attribute("name", "wct check " + run.plan) + Attribute("tests", std::to_string(tests)) +
           Attribute("failures", std::to_string(failures)) +
           Attribute("errors", std::to_string(errors)) + Attribute("time", Seconds(totalMs)) +
           ">\n" + suites + "</testsuites>\n";
}

std::string CheckReportPath(const std::string& path) {
    if (path == "-") return "";
    const std::string name = "report " + (path.empty() ? std::string("''") : path) + ": ";
    if (path.empty()) return name + "no file named";
    const std::optional<std::string> target = Followed(path);
    if (!target) return name + std::strerror(ELOOP);
    struct stat st {};
    if (stat(target->c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return name + "is a folder; name a file in it";
        if (access(target->c_str(), W_OK) != 0) return name + std::strerror(errno);
        if (!S_ISREG(st.st_mode)) return "";  // written through
    } else if (errno != ENOENT) {
        return name + std::strerror(errno);
    }
    // A regular file is replaced by a new one made in its folder.
    const std::string dir = FolderOf(*target);
    if (stat(dir.c_str(), &st) != 0)
        return name + "the folder " + dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return name + dir + " is not a folder";
    if (access(dir.c_str(), W_OK | X_OK) != 0)
        return name + "the folder " + dir + " cannot be written: " + std::strerror(errno);
    return "";
}

TReportFile::TReportFile(std::string path) : path_(std::move(path)) {
    if (const std::string why = CheckReportPath(path_); !why.empty()) throw EReportFile(why);
    if (path_ == "-") return;
    target_ = Followed(path_).value_or(path_);
    struct stat st {};
    if (stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return;
    through_ = false;
    // Proves that a file can be made beside it (a full or read-only disk says so now), and
    // leaves none: a run killed before its end must not leave one behind.
    std::string probe = PartName();
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) Fail(errno);
    close(fd);
    unlink(probe.c_str());
}

std::string TReportFile::PartName() const {
    return FolderOf(target_) + "/." + std::filesystem::path(target_).filename().string() +
           ".XXXXXX";
}

void TReportFile::Fail(int error) const {
    throw EReportFile("report " + path_ + ": " + std::strerror(error));
}

void TReportFile::Commit(const std::string& text) {
    if (through_) {
        // Through: the standard output, a FIFO or a device takes the text as it comes.
        const bool out = path_ == "-";
        const int fd = out ? STDOUT_FILENO : open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) Fail(errno);
        const bool written = WriteAll(fd, text);
        const int error = errno;
        if (!out) close(fd);
        if (!written) Fail(error);
        return;
    }
    if (committed_) Fail(EBADF);
    committed_ = true;
    struct stat st {};
    const bool exists = stat(target_.c_str(), &st) == 0;
    std::string part = PartName();
    const int fd = mkostemp(part.data(), O_CLOEXEC);
    if (fd < 0) Fail(errno);
    // mkostemp makes it private; a report is as readable as the file it replaces.
    fchmod(fd, exists ? (st.st_mode & 07777) : 0644);
    const bool synced = WriteAll(fd, text) && fsync(fd) == 0;
    const int syncError = errno;
    const bool closed = close(fd) == 0;
    const int closeError = errno;
    if (!synced || !closed || std::rename(part.c_str(), target_.c_str()) != 0) {
        const int error = !synced ? syncError : !closed ? closeError : errno;
        unlink(part.c_str());
        Fail(error);
    }
}

}  // namespace wct::check
