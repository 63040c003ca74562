// Runs a check plan on consoles through the protocol component, one console after the
// other, and makes one record per console.
//
// Measuring runs for the whole run, and the link statistics are cleared at its start:
// every console's radio step judges the statistics from the start of the run to that
// step, waiting until the plan's seconds have passed (only the first console waits).
// The plan's reply time-out is the protocol's while the run lasts. The runner chains
// itself into the protocol's OnNAck and OnConsoleRemove and restores them afterwards,
// so the owner's handlers keep working; it stops measuring at the end.
//
// A refused command (NACK) fails its step; a command that is not answered within the
// reply time-out is an error. A console that leaves (the dongle reports it removed) gets
// ERROR "console left" on the steps it missed; the run goes on with the next console.
// When Interrupted() turns true, the current console's remaining steps and its record
// are ERROR "interrupted" and the run ends.
//
// Main thread only; the protocol must be connected and must outlive the runner.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "check/check_plan.h"
#include "check/check_record.h"
#include "check/check_report.h"

namespace wct {
class TMiraWirelessProtocol;
}

namespace wct::check {

struct TCheckSession {
    std::string station;
    std::string operatorName;
};

class TCheckRunner {
public:
    TCheckRunner(TMiraWirelessProtocol& protocol, TCheckPlan plan, TCheckSession session);

    // After each step, and after each console's record is complete.
    std::function<void(const TCheckRecord& record, const TStepResult& step)> OnStep;
    std::function<void(const TCheckRecord& record)> OnRecord;
    std::function<bool()> Interrupted;

    TCheckRun Run(const std::vector<uint8_t>& consoles);

private:
    TCheckRecord CheckConsole(uint8_t id, const std::string& runId);
    TStepResult RunStep(const TPlanStep& step, uint8_t id, TCheckRecord& record);
    TStepResult Identity(const TPlanStep& step, uint8_t id, TCheckRecord& record);
    TStepResult Test(const TPlanStep& step, uint8_t id);
    TStepResult Memory(const TPlanStep& step, uint8_t id);
    TStepResult TotalRolls(const TPlanStep& step, uint8_t id);
    TStepResult Radio(const TPlanStep& step, uint8_t id);

    bool Stopped() const { return Interrupted && Interrupted(); }
    bool Left(uint8_t id) const { return left_.count(id) != 0; }
    // Whether `command` to `id` was refused since the step began.
    bool Refused(uint8_t id, uint8_t command) const { return nacks_.count({id, command}) != 0; }
    // Answers (NACKs included) from `id` to `command` since the run began.
    uint64_t Answers(uint8_t id, uint8_t command) const;
    // A step that got no answer: ERROR, unless the console was lost meanwhile.
    TStepResult Silence(const std::string& what) const;
    // Serves the main thread until `done`, `ms` passed, or the run is stopped.
    template <typename Done>
    void ServeUntil(Done done, uint32_t ms);

    TMiraWirelessProtocol& protocol_;
    TCheckPlan plan_;
    TCheckSession session_;
    uint32_t windowStart_ = 0;                     // when measuring began
    std::set<std::pair<uint8_t, uint8_t>> nacks_;  // console, command
    std::set<uint8_t> left_;
};

// The consoles present: those that join while registration is open for `waitMs` and those
// already registered, which show themselves by sending measures meanwhile; in ID order.
std::vector<uint8_t> FindPresentConsoles(TMiraWirelessProtocol& protocol, uint32_t waitMs);

}  // namespace wct::check
