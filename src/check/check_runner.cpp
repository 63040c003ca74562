// SPDX-License-Identifier: Apache-2.0
#include "check/check_runner.h"

#include <algorithm>
#include <cmath>

#include "common/delay_with_messages.h"
#include "common/hex.h"
#include "common/tick_count.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"

namespace wct::check {
namespace {

TStepResult Result(TOutcome outcome, std::string value, std::string limits,
                   std::string message = {}) {
    TStepResult r;
    r.outcome = outcome;
    r.value = value.empty() ? "-" : std::move(value);
    r.limits = limits.empty() ? "-" : std::move(limits);
    r.message = std::move(message);
    return r;
}

// A step judged on its measures: PASS when each is within its limits, else FAIL with
// `why` of the first that is not.
TStepResult Measured(std::vector<TMeasure> measures, const std::vector<std::string>& why) {
    std::string value, limits, message;
    for (size_t i = 0; i < measures.size(); ++i) {
        const TMeasure& m = measures[i];
        value += (value.empty() ? "" : ",") + ValueText(m);
        const std::string shown = LimitsText(m);
        if (!shown.empty()) limits += (limits.empty() ? "" : ",") + shown;
        if (message.empty() && !Within(m)) message = why[i];
    }
    TStepResult r =
        Result(message.empty() ? TOutcome::Pass : TOutcome::Fail, value, limits, message);
    r.measures = std::move(measures);
    return r;
}

// Puts the protocol's settings and handlers back as they were when the run began.
class TRestore {
public:
    explicit TRestore(TMiraWirelessProtocol& p)
        : p_(p),
          replyTimeOut_(p.ReplyTimeOut()),
          measuring_(p.Measuring()),
          onNAck_(p.OnNAck),
          onConsoleRemove_(p.OnConsoleRemove),
          onMeasures_(p.OnMeasuresReceived),
          onDisconnection_(p.OnDisconnection) {}
    ~TRestore() {
        if (!measuring_) p_.SetMeasure(false);
        p_.SetReplyTimeOut(replyTimeOut_);
        p_.OnNAck = onNAck_;
        p_.OnConsoleRemove = onConsoleRemove_;
        p_.OnMeasuresReceived = onMeasures_;
        p_.OnDisconnection = onDisconnection_;
    }
    TRestore(const TRestore&) = delete;
    TRestore& operator=(const TRestore&) = delete;
    const TMiraNAck& OnNAck() const { return onNAck_; }
    const TMiraIDProcedureEvent& OnConsoleRemove() const { return onConsoleRemove_; }
    const TMiraMeasureRecievedEvent& OnMeasures() const { return onMeasures_; }
    const TMiraProcedureEvent& OnDisconnection() const { return onDisconnection_; }

private:
    TMiraWirelessProtocol& p_;
    int replyTimeOut_;
    bool measuring_;
    TMiraNAck onNAck_;
    TMiraIDProcedureEvent onConsoleRemove_;
    TMiraMeasureRecievedEvent onMeasures_;
    TMiraProcedureEvent onDisconnection_;
};

}  // namespace

TCheckRunner::TCheckRunner(TMiraWirelessProtocol& protocol, TCheckPlan plan, TCheckSession session)
    : protocol_(protocol), plan_(std::move(plan)), session_(std::move(session)) {}

bool TCheckRunner::Lost() const {
    return lost_ || !protocol_.Connected();
}

template <typename Done>
void TCheckRunner::ServeUntil(Done done, uint32_t ms) {
    // Short slices, so that an interruption is seen soon; any hand-off ends one early.
    wct::ServeUntil([&] { return done() || Stopped(); }, ms, 100);
}

TCheckRun TCheckRunner::Run(const std::vector<uint8_t>& consoles) {
    TCheckRun run;
    run.id = NewRecordId();
    run.plan = plan_.name;
    run.station = session_.station;
    run.operatorName = session_.operatorName;
    run.started = UtcNow();

    TRestore restore(protocol_);
    protocol_.OnNAck = [this, &restore](uint8_t console, uint8_t command) {
        nacks_.insert({console, command});
        if (restore.OnNAck()) restore.OnNAck()(console, command);
    };
    protocol_.OnConsoleRemove = [this, &restore](int id) {
        left_.insert(static_cast<uint8_t>(id));
        if (restore.OnConsoleRemove()) restore.OnConsoleRemove()(id);
    };
    protocol_.OnMeasuresReceived = [this, &restore](const TMiraWirelessConsoleMeasures& val,
                                                    uint8_t id) {
        if (pending_ != nullptr && Passed(*pending_)) pending_ = nullptr;
        ++frames_[id];
        if (restore.OnMeasures()) restore.OnMeasures()(val, id);
    };
    protocol_.OnDisconnection = [this, &restore] {
        lost_ = true;
        if (restore.OnDisconnection()) restore.OnDisconnection()();
    };
    protocol_.SetReplyTimeOut(plan_.replyTimeoutMs);
    if (!protocol_.Measuring()) protocol_.SetMeasure(true);
    start_ = SendFence();
    AwaitFence(start_);

    for (uint8_t id : consoles) {
        if (Stopped()) break;
        run.records.push_back(CheckConsole(id, run.id));
        if (OnRecord) OnRecord(run.records.back());
    }
    run.interrupted = Stopped();
    run.ended = UtcNow();
    return run;
}

TCheckRecord TCheckRunner::CheckConsole(uint8_t id, const std::string& runId) {
    TCheckRecord record;
    record.id = NewRecordId();
    record.runId = runId;
    record.console = id;
    record.plan = plan_.name;
    record.station = session_.station;
    record.operatorName = session_.operatorName;
    record.started = UtcNow();
    left_.erase(id);
    for (const TPlanStep& step : plan_.steps) {
        const uint32_t start = GetTickCount();
        TStepResult result;
        if (Stopped()) {
            result = Result(TOutcome::Error, "", "", StopReason());
        } else if (Left(id)) {
            result = Result(TOutcome::Error, "", "", "console left");
            record.message = "console left";
        } else {
            nacks_.clear();
            result = RunStep(step, id, record);
        }
        result.name = step.name;
        result.ms = GetTickCount() - start;
        record.outcome = Worse(record.outcome, result.outcome);
        record.steps.push_back(result);
        if (OnStep) OnStep(record, record.steps.back());
    }
    // Interrupted during the last step: the record still says so.
    if (Stopped()) {
        record.outcome = TOutcome::Error;
        record.message = Lost() ? "interrupted: dongle lost" : "interrupted";
    }
    record.ended = UtcNow();
    return record;
}

TStepResult TCheckRunner::RunStep(const TPlanStep& step, uint8_t id, TCheckRecord& record) {
    switch (step.kind) {
        case TStepKind::Identity:
            return Identity(step, id, record);
        case TStepKind::Test:
            return Test(step, id);
        case TStepKind::Memory:
            return Memory(step, id, record);
        case TStepKind::TotalRolls:
            return TotalRolls(step, id);
        case TStepKind::Radio:
            break;
    }
    return Radio(step, id);
}

uint64_t TCheckRunner::Answers(uint8_t id, uint8_t command) const {
    const TMiraLinkReport report = protocol_.LinkReport();
    for (const TMiraConsoleLinkStats& c : report.consoles) {
        if (c.console != id) continue;
        for (const TMiraCommandLatency& l : c.latencies)
            if (l.command == command) return l.replies;
    }
    return 0;
}

TStepResult TCheckRunner::Silence(const std::string& what) const {
    // A wait cut short by the interruption is no silence of the console's.
    if (Stopped()) return Result(TOutcome::Error, "", "", StopReason());
    std::string message =
        "no answer to " + what + " within " + std::to_string(protocol_.ReplyTimeOut()) + " ms";
    return Result(TOutcome::Error, "none", "", std::move(message));
}

TStepResult TCheckRunner::Identity(const TPlanStep& step, uint8_t id, TCheckRecord& record) {
    const uint8_t requests[] = {mcSerialNumber, mcVersion, mcFirmware};
    uint64_t before[3];
    for (int i = 0; i < 3; ++i) before[i] = Answers(id, requests[i]);
    protocol_.RequestSerial(id);
    protocol_.RequestVersion(id);
    protocol_.RequestFirmware(id);
    const auto answered = [&](int i) { return Answers(id, requests[i]) > before[i]; };
    ServeUntil([&] { return Left(id) || (answered(0) && answered(1) && answered(2)); },
               TMiraWirelessProtocol::Milliseconds(protocol_.ReplyTimeOut()));

    const char* names[] = {"the serial number request", "the version request",
                           "the firmware request"};
    for (int i = 0; i < 3; ++i) {
        if (Refused(id, requests[i]))
            return Result(TOutcome::Fail, "NACK", "", std::string("refused ") + names[i]);
        if (!answered(i)) return Silence(names[i]);
    }
    const TMiraConsoleInfo& c = protocol_.Consoles()[id];
    record.serial = c.Serial;
    record.version = c.Version;
    record.firmware = std::to_string(c.FirmwareMajor) + "." + std::to_string(c.FirmwareMinor);
    std::string value =
        std::to_string(c.Version) + "/" + std::to_string(c.Serial) + "/" + record.firmware;
    if (step.firmware.empty()) return Result(TOutcome::Pass, value, "");
    std::string limits = "firmware=";
    for (size_t i = 0; i < step.firmware.size(); ++i)
        limits += (i ? "|" : "") + step.firmware[i].Text();
    // Compared as numbers: a plan's "2.03" is the console's 2.3.
    const TFirmwareVersion firmware{c.FirmwareMajor, c.FirmwareMinor};
    const bool allowed =
        std::find(step.firmware.begin(), step.firmware.end(), firmware) != step.firmware.end();
    if (allowed) return Result(TOutcome::Pass, value, limits);
    return Result(TOutcome::Fail, value, limits,
                  "firmware " + record.firmware + " is not among those allowed");
}

TStepResult TCheckRunner::Test(const TPlanStep& step, uint8_t id) {
    bool ok = false;
    switch (step.command) {
        case mcTestKeys:
            ok = protocol_.TestKeys(id);
            break;
        case mcTestCardio:
            ok = protocol_.TestCardio(id);
            break;
        case mcTestSignals:
            ok = protocol_.TestSignals(id);
            break;
        default:
            ok = protocol_.TriggerClock(id);
            break;
    }
    if (ok) return Result(TOutcome::Pass, "ACK", "ACK");
    if (Refused(id, step.command))
        return Result(TOutcome::Fail, "NACK", "ACK",
                      "the console refused the " + step.name + " test");
    TStepResult silence = Silence("the " + step.name + " test");
    silence.limits = "ACK";
    return silence;
}

TStepResult TCheckRunner::Memory(const TPlanStep& step, uint8_t id, const TCheckRecord& record) {
    const auto count = static_cast<uint8_t>(step.pattern.size());
    std::string limits = std::string("=").append(BytesToHex(step.pattern));
    // Reads `count` bytes into `bytes`; a failed step when it cannot.
    const auto read = [&](std::string& bytes, const char* what) -> std::optional<TStepResult> {
        if (protocol_.ReadValue(id, step.address, count)) {
            const TMiraConsoleInfo& c = protocol_.Consoles()[id];
            bytes.assign(reinterpret_cast<const char*>(c.Data.data()),
                         static_cast<size_t>(std::clamp(c.DataCount, 0, 8)));
            if (bytes.size() == count) return std::nullopt;
            return Result(TOutcome::Fail, BytesToHex(bytes), limits,
                          std::string(what) + ": " + std::to_string(bytes.size()) + " of " +
                              std::to_string(count) + " bytes read");
        }
        if (Refused(id, mcReadValue))
            return Result(TOutcome::Fail, "NACK", limits, std::string(what) + " refused");
        const TMiraConsoleInfo& c = protocol_.Consoles()[id];
        if (c.ReadStatus == 3)
            return Result(TOutcome::Fail, "-", limits, std::string(what) + ": nothing read");
        TStepResult silence = Silence(what);
        silence.limits = limits;
        return silence;
    };
    const auto write = [&](const std::string& bytes,
                           const char* what) -> std::optional<TStepResult> {
        uint8_t data[8] = {};
        std::copy(bytes.begin(), bytes.end(), data);
        if (protocol_.WriteValue(id, step.address, count, data)) return std::nullopt;
        if (Refused(id, mcWriteValue))
            return Result(TOutcome::Fail, "NACK", limits, std::string(what) + " refused");
        TStepResult silence = Silence(what);
        silence.limits = limits;
        return silence;
    };
    const std::string at = BytesToHex(
        std::string{static_cast<char>(step.address >> 8), static_cast<char>(step.address)});
    if (Journal == nullptr)
        return Result(TOutcome::Error, "", limits, "no journal to note what the console held");
    const std::string console = record.serial ? "serial-" + std::to_string(*record.serial)
                                              : "console-" + std::to_string(id);
    // A run that ended before its restore left the pattern there: what belongs there first.
    std::string putBack;
    if (const auto held = Journal->Held(console, step.address)) {
        const std::string left = "; held " + BytesToHex(*held) + " at " + at +
                                 " since a run that ended before restoring it";
        if (auto failed = write(*held, "the restoring write")) {
            failed->message += left + ", not restored";
            return *failed;
        }
        Journal->Release(console, step.address);
        putBack = "put back " + BytesToHex(*held) + " at " + at +
                  ", left holding the pattern by a run that ended before restoring it";
    }
    const auto noted = [&putBack](TStepResult result) {
        if (!putBack.empty())
            result.message = result.message.empty() ? putBack : result.message + "; " + putBack;
        return result;
    };
    std::string original, readBack;
    if (auto failed = read(original, "the first read")) return noted(*failed);
    try {
        Journal->Hold(console, step.address, original);
    } catch (const EMemoryJournal& e) {
        return noted(Result(TOutcome::Error, BytesToHex(original), limits,
                            std::string(e.what()) + "; the pattern was not written"));
    }
    // A console that ignores writes still reads back a pattern it held already: then the
    // pattern's complement is written, so the read back tells a write from none.
    std::string pattern = step.pattern;
    if (pattern == original)
        for (char& c : pattern) c = static_cast<char>(~c);
    limits = std::string("=").append(BytesToHex(pattern));
    // What the console held is kept in every outcome's message from here on, so that a
    // run stopped before the restore still tells what belongs there.
    const std::string held = "; held " + BytesToHex(original) + " at " + at;
    if (auto failed = write(pattern, "the pattern write")) {
        // A write that got no answer may have landed all the same.
        if (!write(original, "the restoring write")) {
            Journal->Release(console, step.address);
            return noted(*failed);
        }
        failed->message += held + ", not restored";
        return noted(*failed);
    }
    auto result = read(readBack, "the read back");
    // What was there goes back whatever the read back found.
    const auto restoreFailed = write(original, "the restoring write");
    if (!result && readBack != pattern)
        result = Result(TOutcome::Fail, BytesToHex(readBack), limits,
                        "the pattern did not stick at " + at);
    if (!restoreFailed) {
        Journal->Release(console, step.address);
        return noted(result ? *result : Result(TOutcome::Pass, BytesToHex(readBack), limits));
    }
    // A failed restore is reported whatever else went wrong: the console holds a pattern.
    if (!result) {
        result = *restoreFailed;
        result->value = BytesToHex(readBack);
    } else {
        result->outcome = Worse(result->outcome, restoreFailed->outcome);
        result->message += "; " + restoreFailed->message;
    }
    result->message += held + ", not restored";
    return noted(*result);
}

TStepResult TCheckRunner::TotalRolls(const TPlanStep& step, uint8_t id) {
    const int32_t total = protocol_.RequestTotalRolls(id);
    std::optional<double> max;
    if (step.maxRolls) max = static_cast<double>(*step.maxRolls);
    TMeasure rolls = ShownMeasure("total_rolls", "", 0, 0, static_cast<double>(step.minRolls), max);
    const std::string limits = LimitsText(rolls);
    if (Refused(id, mcTotalRolls))
        return Result(TOutcome::Fail, "NACK", limits, "the total rolls request was refused");
    if (total < 0) {
        TStepResult silence = Silence("the total rolls request");
        silence.limits = limits;
        return silence;
    }
    rolls.value = total;  // a count, shown whole
    return Measured({rolls}, {"total rolls outside the limits"});
}

TCheckRunner::TFence TCheckRunner::SendFence() {
    TFence fence;
    fence.answersBefore = Answers(0, mcNumberOfConsoles);
    fence.sentAt = GetTickCount();
    protocol_.AskNumberOfConsole();
    return fence;
}

bool TCheckRunner::Passed(TFence& fence) {
    if (!fence.frames && Answers(0, mcNumberOfConsoles) > fence.answersBefore) {
        fence.frames = frames_;
        fence.answeredBy = GetTickCount();
    }
    return fence.frames.has_value();
}

bool TCheckRunner::AwaitFence(TFence& fence) {
    pending_ = &fence;
    ServeUntil([&] { return Passed(fence); },
               TMiraWirelessProtocol::Milliseconds(protocol_.ReplyTimeOut()));
    // An answer that comes later still closes it in the order of the stream.
    if (fence.frames) pending_ = nullptr;
    return fence.frames.has_value();
}

TStepResult TCheckRunner::Radio(const TPlanStep& step, uint8_t id) {
    TFence end;
    bool counted = AwaitFence(start_);
    if (counted) {
        const auto window = static_cast<uint32_t>(step.seconds * 1000);
        const auto waited = [&] { return GetTickCount() - start_.answeredBy; };
        ServeUntil([&] { return Left(id) || waited() >= window; },
                   window - std::min(window, waited()));
        counted = !Left(id) && !Stopped();
    }
    if (counted) {
        end = SendFence();
        counted = AwaitFence(end);
    }
    if (Left(id)) return Result(TOutcome::Error, "", "", "console left");
    if (!counted || Stopped()) return Silence("the console count request");

    const auto count = [id](const std::map<uint8_t, uint64_t>& frames) {
        const auto found = frames.find(id);
        return found == frames.end() ? uint64_t{0} : found->second;
    };
    const uint64_t frames = count(*end.frames) - count(*start_.frames);
    // The dongle answered the first request by the time its answer was seen and took in
    // the second after it was sent: the window lasted at least this long. A console that
    // sends every period sent at least as many whole periods as that holds.
    const double seconds = static_cast<double>(end.sentAt - start_.answeredBy) / 1e3;
    const TMiraLinkReport report = protocol_.LinkReport();
    const auto c = std::find_if(report.consoles.begin(), report.consoles.end(),
                                [&](const TMiraConsoleLinkStats& s) { return s.console == id; });
    // Each judged as shown: a rate that reads as its limit passes, a share of frames lost
    // that reads as its limit does not.
    const auto lost = [&](double share) {
        return ShownMeasure("lost", "%", 1, share * 100, std::nullopt, std::nullopt,
                            step.maxLost * 100);
    };
    const double expectedRate =
        step.expectedFps > 0 ? step.expectedFps : (c == report.consoles.end() ? 0 : c->expectedRate);
    if (expectedRate <= 0 || seconds <= 0) {
        return Result(TOutcome::Fail, "frames=" + std::to_string(frames), LimitsText(lost(0)),
                      "too few measures to tell a rate");
    }
    const double fps = static_cast<double>(frames) / seconds;
    const double expected = std::floor(seconds * expectedRate);
    const double missing = std::max(0.0, expected - static_cast<double>(frames));
    const double lostShare = missing > 0 ? missing / (static_cast<double>(frames) + missing) : 0;
    return Measured(
        {ShownMeasure("rate", "fps", 2, fps, step.minRate * expectedRate), lost(lostShare)},
        {"frame rate below the limit", "too many frames lost"});
}

std::vector<uint8_t> FindPresentConsoles(TMiraWirelessProtocol& protocol, uint32_t waitMs,
                                         const std::vector<uint8_t>& wanted) {
    std::set<uint8_t> ids;
    const std::set<uint8_t> asked(wanted.begin(), wanted.end());
    const TMiraMeasureRecievedEvent previous = protocol.OnMeasuresReceived;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures& val, uint8_t id) {
        if (asked.empty() || asked.count(id) != 0) ids.insert(id);
        if (previous) previous(val, id);
    };
    // Registration (opened only for a search of all) and measuring are left as found.
    const bool open = asked.empty() && !protocol.Opened();
    const bool measuring = protocol.Measuring();
    if (open) protocol.OpenRegistration();
    if (!measuring) protocol.SetMeasure(true);
    TMiraWirelessProtocol::WaitWithMessages(
        waitMs, [&] { return !asked.empty() && ids.size() == asked.size(); });
    if (!measuring) protocol.SetMeasure(false);
    if (open) protocol.CloseRegistration();
    protocol.OnMeasuresReceived = previous;
    if (asked.empty())
        for (size_t id = 1; id < protocol.Consoles().size(); ++id)
            if (protocol.IsConsoleConnected(static_cast<uint8_t>(id)))
                ids.insert(static_cast<uint8_t>(id));
    ids.erase(0);
    return {ids.begin(), ids.end()};
}

}  // namespace wct::check
