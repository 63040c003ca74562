#include "testbench/testbench.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "check/check_history.h"
#include "publish/mqtt_publisher.h"

namespace wct::testbench {

void TPublisherSink::Keep(const check::TCheckRecord& r) {
    publish::TMqttPublisher* publisher = current_ ? current_() : nullptr;
    if (publisher == nullptr) return;
    try {
        publisher->PublishCheck({r.id, check::SerialLabel(r), check::RecordToJson(r).dump()});
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("not published: ") + e.what());
    }
}

TCheckSummary TTestBench::RunCheck(const TCheckRequest& request) {
    std::unique_ptr<check::TCheckHistory> history;
    std::unique_ptr<check::TReportFile> report, junit;
    std::unique_ptr<check::TMemoryJournal> journal;
    const bool memory =
        std::any_of(request.plan.steps.begin(), request.plan.steps.end(),
                    [](const check::TPlanStep& s) { return s.kind == check::TStepKind::Memory; });
    try {
        history = std::make_unique<check::TCheckHistory>(request.history,
                                                         check::TCheckHistory::TAccess::Write);
        if (!request.report.empty()) report = std::make_unique<check::TReportFile>(request.report);
        if (!request.junit.empty()) junit = std::make_unique<check::TReportFile>(request.junit);
        if (memory) journal = std::make_unique<check::TMemoryJournal>(request.journal);
    } catch (const std::exception& e) {
        throw ECheckRefused(e.what());
    }

    TCheckSummary summary;
    std::vector<uint8_t> consoles = request.consoles;
    if (consoles.empty()) {
        consoles = check::FindPresentConsoles(protocol_, request.presentWaitMs);
    } else {
        const std::vector<uint8_t> present =
            check::FindPresentConsoles(protocol_, request.presentWaitMs, consoles);
        for (uint8_t id : consoles)
            if (std::find(present.begin(), present.end(), id) == present.end())
                summary.absent.push_back(id);
        consoles = present;
    }
    // The report files are dropped unwritten: an empty report would read as a run.
    if (consoles.empty()) {
        summary.noConsole = true;
        return summary;
    }

    if (request.OnStart) request.OnStart();
    check::TCheckRunner runner(protocol_, request.plan, request.session);
    runner.Interrupted = [&] {
        return summary.unkept > 0 || (request.Interrupted && request.Interrupted());
    };
    runner.Journal = journal.get();
    runner.OnStep = request.OnStep;
    runner.OnRecord = [&](const check::TCheckRecord& r) {
        const std::string console = "console " + std::to_string(r.console) + ": ";
        try {
            history->Add(r);
        } catch (const std::exception& e) {
            ++summary.unkept;
            summary.notKept.push_back(console + e.what());
        }
        for (TRecordSink* sink : request.sinks) {
            try {
                sink->Keep(r);
            } catch (const std::exception& e) {
                summary.notKept.push_back(console + e.what());
            }
        }
        if (request.OnRecord) request.OnRecord(r);
    };
    summary.run = runner.Run(consoles);

    // Each report on its own: one that cannot be written keeps nothing from the other.
    const auto commit = [&](check::TReportFile* file, const std::string& text) {
        try {
            if (file) file->Commit(text);
        } catch (const std::exception& e) {
            summary.notKept.push_back(e.what());
        }
    };
    commit(report.get(), check::RunToJson(summary.run).dump(2) + "\n");
    commit(junit.get(), check::JUnitText(summary.run));
    for (const check::TCheckRecord& r : summary.run.records)
        summary.passed += r.outcome == check::TOutcome::Pass;
    return summary;
}

std::string TTestBench::HistoryPath() {
    return check::TCheckHistory::DefaultPath();
}

}  // namespace wct::testbench
