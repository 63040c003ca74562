// SPDX-License-Identifier: Apache-2.0
// Runs a check plan on consoles through the protocol component, one console after the
// other, and makes one record per console.
//
// Measuring runs for the whole run: it is turned on when the operator had it off, and off
// again afterwards; measuring left on stays on. The link statistics are the operator's:
// the run reads them and never clears or changes them, counting its own frames. Every
// console's radio step judges what the console sent from the start of the run to
// that step, waiting until the plan's seconds have passed (only the first console waits):
// not how fast the PC read it, which a busy PC does late and in bursts. Two console
// count requests to the dongle mark the window in the dongle's own stream, one when
// measuring starts and one at the step; its answers come in line with the measures, so
// the frames between them are those the console sent between the two requests, counted
// whenever the PC reads them. The window is taken as the shortest it can have lasted for
// the dongle, from the first answer's arrival to the second request; the frames expected
// in it are its whole periods at the expected rate, which a console that keeps its rate
// sends whatever the phase of its frames and however late the dongle answers. The rate
// is the plan's, or else the one the link statistics expect of the console: the rate set
// for them, or the median interval of its frames, right as long as most frames are read
// as they come. A dongle that
// does not answer a request within the reply time-out makes the step an ERROR.
// The plan's reply time-out is the protocol's while the run lasts. The runner chains
// itself into the protocol's OnNAck, OnConsoleRemove and OnMeasuresReceived and restores
// them afterwards, so the owner's handlers keep working.
//
// A refused command (NACK) fails its step; a command that is not answered within the
// reply time-out is an error. A console that leaves (the dongle reports it removed) gets
// ERROR "console left" on the steps it missed; the run goes on with the next console.
// When Interrupted() turns true, or the dongle is lost, the current console's remaining
// steps are ERROR "interrupted" (or "dongle lost"), its record ERROR "interrupted" (or
// "interrupted: dongle lost") with the steps it did, and the run ends.
//
// The memory step notes what it found in Journal before it writes its pattern and drops
// the note once it has put that back; a note left by a run that ended in between is
// written back first, and the step's message says so.
//
// Main thread only; the protocol must be connected and must outlive the runner.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "check/check_plan.h"
#include "check/check_record.h"
#include "check/check_report.h"
#include "check/memory_journal.h"

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
    // Where the memory step keeps what it found until it has put it back. Without one, a
    // plan with a memory step writes no pattern (ERROR).
    TMemoryJournal* Journal = nullptr;

    TCheckRun Run(const std::vector<uint8_t>& consoles);

private:
    // A console count request, whose answer marks a point in the dongle's stream.
    struct TFence {
        uint32_t sentAt = 0;
        uint32_t answeredBy = 0;  // a tick no earlier than the answer
        uint64_t answersBefore = 0;
        // Measures frames per console before the answer; none until it came.
        std::optional<std::map<uint8_t, uint64_t>> frames;
    };

    TCheckRecord CheckConsole(uint8_t id, const std::string& runId);
    TStepResult RunStep(const TPlanStep& step, uint8_t id, TCheckRecord& record);
    TStepResult Identity(const TPlanStep& step, uint8_t id, TCheckRecord& record);
    TStepResult Test(const TPlanStep& step, uint8_t id);
    TStepResult Memory(const TPlanStep& step, uint8_t id, const TCheckRecord& record);
    TStepResult TotalRolls(const TPlanStep& step, uint8_t id);
    TStepResult Radio(const TPlanStep& step, uint8_t id);

    bool Lost() const;
    bool Stopped() const { return Lost() || (Interrupted && Interrupted()); }
    // Why the run stopped, for a step it cut short.
    const char* StopReason() const { return Lost() ? "dongle lost" : "interrupted"; }
    bool Left(uint8_t id) const { return left_.count(id) != 0; }
    // Whether `command` to `id` was refused since the step began.
    bool Refused(uint8_t id, uint8_t command) const { return nacks_.count({id, command}) != 0; }
    // Answers (NACKs included) from `id` to `command` the link statistics counted; only
    // differences mean anything, since the operator may clear them.
    uint64_t Answers(uint8_t id, uint8_t command) const;
    // A step that got no answer: ERROR, unless the console was lost meanwhile.
    TStepResult Silence(const std::string& what) const;
    TFence SendFence();
    // Whether `fence` was answered. The frames counted so far are all before its answer:
    // while it is pending, a frame after the answer closes it first (see Run).
    bool Passed(TFence& fence);
    // Serves until `fence` is answered, or the reply time-out passed or the run stopped.
    bool AwaitFence(TFence& fence);
    // Serves the main thread until `done`, `ms` passed, or the run is stopped.
    template <typename Done>
    void ServeUntil(Done done, uint32_t ms);

    TMiraWirelessProtocol& protocol_;
    TCheckPlan plan_;
    TCheckSession session_;
    TFence start_;                        // sent when measuring began
    TFence* pending_ = nullptr;           // the fence not answered yet, if any
    std::map<uint8_t, uint64_t> frames_;  // measures frames per console since the run began
    std::set<std::pair<uint8_t, uint8_t>> nacks_;  // console, command
    std::set<uint8_t> left_;
    bool lost_ = false;  // the protocol reported the dongle gone
};

// The consoles present: those that join while registration is open for `waitMs` and those
// already registered, which show themselves by sending measures meanwhile; in ID order.
// With `wanted`, only those of them that send measures within `waitMs`, without opening
// registration; the wait ends as soon as each has. Registration and measuring are left as
// they were found.
std::vector<uint8_t> FindPresentConsoles(TMiraWirelessProtocol& protocol, uint32_t waitMs,
                                         const std::vector<uint8_t>& wanted = {});

}  // namespace wct::check
