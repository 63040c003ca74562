// SPDX-License-Identifier: Apache-2.0
#include "testbench/testbench.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "check/check_history.h"
#include "common/stored_form.h"

namespace wct::testbench {
namespace {

// The rider device's design values, as the bench ships it.
constexpr const char* kRiderForm = R"(
object Form1: TForm1
  object VeloxDeviceW1: TVeloxDeviceW
    RiderWeight = 0
    UOM = umKm
    BikeWeight = 10
    TimerStatsEnabled = False
    TimerStatsInterval = 1000
    TimeToleranceMs = 100
    HrArrayLength = 0
    CadenceArrayLength = 5
    SpeedArrayLength = 5
    RollDiameter = 45
    InitialResistance = 0
    SecurityActive = False
    HighPowerReduceCoefficient = 1
    HighPowerReduceStartSpeed = 7
    HighPowerReduceCoefficientMinimum = 0.25
    ResistanceReducer = 1
    PrecisionSpeed = 8
    PrecisionDistance = 8
    Tolerance = 2
    ResistanceMapAdapter = 1
    VirtualSpeedEnabled = True
    VirtualSpeedAttenuation = 1
    Calibration = 1
    RecoverConnection = True
    RecoverConnectionTime = 0
  end
  object ResistanceMap1: TResistanceMap
    VeloxVersion = 4
    ResistanceMapAdapter = 1
)";

// The map's rows close the form: they are the map the bench ships.
std::string RiderForm() {
    return std::string(kRiderForm) + "    StrData = " + QuoteString(ShippedResistanceMapText()) +
           "\n  end\nend\n";
}

}  // namespace

TTestBench::TTestBench(const std::string& design) {
    root_.SetName("Form1");
    comPort1_ = new TComPort(&root_);
    comPort1_->SetName("ComPort1");
    comDataPacket1_ = new TComDataPacket(&root_);
    comDataPacket1_->SetName("ComDataPacket1");
    tmp_ = new TMiraWirelessProtocol(&root_);
    tmp_->SetName("tmp");
    veloxDeviceW1_ = new TVeloxDeviceW(&root_);
    veloxDeviceW1_->SetName("VeloxDeviceW1");
    veloxDevice1_ = new wired::TVeloxDevice(&root_);
    veloxDevice1_->SetName("VeloxDevice1");
    resistanceMap1_ = new TResistanceMap(&root_);
    resistanceMap1_->SetName("ResistanceMap1");
    ReadComponent(RiderForm(), root_);
    if (!design.empty()) ReadComponent(design, root_);
    veloxDeviceW1_->SetWirelessUSB(tmp_);
    veloxDeviceW1_->SetResistanceMap(resistanceMap1_);
    recording_ = std::make_unique<TBenchRecording>(*tmp_);
}

TTestBench::~TTestBench() {
    StopPublishing();
}

publish::TMqttPublisher& TTestBench::StartPublishing(
    const publish::TPublisherSettings& settings,
    const std::function<void(publish::TMqttPublisher&)>& prepare) {
    StopPublishing();
    auto publisher = std::make_unique<publish::TMqttPublisher>(settings);
    if (prepare) prepare(*publisher);
    feed_ = std::make_unique<publish::TBenchFeed>(*tmp_, *publisher);
    feed_->AddRider(*veloxDeviceW1_);
    try {
        publisher->Start();
    } catch (...) {
        feed_.reset();
        throw;
    }
    publisher_ = std::move(publisher);
    return *publisher_;
}

void TTestBench::PollPublishing() {
    if (feed_) feed_->Poll();
}

publish::TPublisherCounters TTestBench::StopPublishing(std::chrono::milliseconds grace) {
    if (!publisher_) return {};
    feed_->Poll();
    publisher_->Stop(grace);
    const publish::TPublisherCounters counters = publisher_->Counters();
    feed_.reset();
    publisher_.reset();
    return counters;
}

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
        consoles = check::FindPresentConsoles(*tmp_, request.presentWaitMs);
    } else {
        const std::vector<uint8_t> present =
            check::FindPresentConsoles(*tmp_, request.presentWaitMs, consoles);
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
    check::TCheckRunner runner(*tmp_, request.plan, request.session);
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
