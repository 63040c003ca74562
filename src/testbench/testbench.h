// TTestBench: a running bench as the window and `wct` present it. The front ends create
// one on their protocol component, call it, and show what it reports; how a production
// check is run and what becomes of its records is decided here once.
//
// A production check: the history, the reports and the memory journal are opened before
// the first console, so that one that cannot be written refuses the run with nothing
// checked (a file that is not a history included); a run that finds no console present
// writes no report either. The consoles asked for by ID are looked for first, for as
// long as --all looks: one that sends no measures meanwhile is absent, is not checked and
// gets no record. Each record goes to the history and to every sink the caller gave (the
// publisher), as its console is done; the reports are written whole when the run has
// ended. A record the history cannot keep stops the run before the next console, so that
// no further record is lost; it is still in the sinks and the reports, and the summary
// counts it. A sink that cannot keep a record is said in the summary and ends nothing.
//
// Main thread only; the protocol must be connected for a check and outlive the bench.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "check/check_plan.h"
#include "check/check_report.h"
#include "check/check_runner.h"
#include "check/memory_journal.h"

namespace wct {
class TMiraWirelessProtocol;
}
namespace wct::publish {
class TMqttPublisher;
}

namespace wct::testbench {

// Where a check's records go besides the history. A sink brings its own dependencies:
// the check code never learns who takes its records.
class TRecordSink {
public:
    virtual ~TRecordSink() = default;
    // Each record as its console is done. Throws, with what a person needs to act, when
    // the record was not kept.
    virtual void Keep(const check::TCheckRecord& record) = 0;
};

// The run refused before the first console; nothing was checked or written.
class ECheckRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TCheckRequest {
    std::vector<uint8_t> consoles;  // empty: every console present
    uint32_t presentWaitMs = 1500;  // how long consoles are looked for
    check::TCheckPlan plan = check::DefaultPlan();
    check::TCheckSession session;
    std::string history;                                        // the history file
    std::string report;                                         // the JSON report; empty: none
    std::string junit;                                          // the JUnit report; empty: none
    std::string journal = check::TMemoryJournal::DefaultDir();  // for a plan's memory steps
    std::vector<TRecordSink*> sinks;
    // Once the consoles are known, before the first (not when none is present).
    std::function<void()> OnStart;
    // After each step and after each record, for the front end to show.
    std::function<void(const check::TCheckRecord&, const check::TStepResult&)> OnStep;
    std::function<void(const check::TCheckRecord&)> OnRecord;
    std::function<bool()> Interrupted;  // the operator ended the run
};

struct TCheckSummary {
    bool noConsole = false;       // none present: nothing checked, no report written
    std::vector<uint8_t> absent;  // asked for by ID and not present: not checked
    check::TCheckRun run;
    size_t passed = 0;
    // What was not kept, one line each ("console 2: ..." for a record).
    std::vector<std::string> notKept;
    // Records the history could not keep; the run stopped at the first.
    size_t unkept = 0;

    // Every console asked for was present, checked, passed, and kept everywhere.
    bool AllPassedAndKept() const {
        return !noConsole && absent.empty() && !run.interrupted && passed == run.records.size() &&
               notKept.empty();
    }
};

// Publishes each record on the publisher `current` names at that moment; none: the
// record is not published, and that is no failure (the bench does not publish).
class TPublisherSink : public TRecordSink {
public:
    explicit TPublisherSink(std::function<publish::TMqttPublisher*()> current)
        : current_(std::move(current)) {}
    void Keep(const check::TCheckRecord& record) override;

private:
    std::function<publish::TMqttPublisher*()> current_;
};

class TTestBench {
public:
    explicit TTestBench(TMiraWirelessProtocol& protocol) : protocol_(protocol) {}

    TMiraWirelessProtocol& Protocol() { return protocol_; }

    // Throws ECheckRefused, naming the file and the cause, when the history or a report
    // cannot be written.
    TCheckSummary RunCheck(const TCheckRequest& request);

    // The history the bench keeps when none is named.
    static std::string HistoryPath();

private:
    TMiraWirelessProtocol& protocol_;
};

}  // namespace wct::testbench
