// SPDX-License-Identifier: Apache-2.0
// TTestBench: a running bench as the window and `wct` present it. The front ends create
// one, call it, and show what it reports; they do not wire its parts together themselves.
// It owns, by the names the bench has always used, the port ComPort1 with its framer
// ComDataPacket1, the protocol `tmp`, the rider device VeloxDeviceW1 on `tmp` with its
// resistance map ResistanceMap1 (the map the bench ships), and the wired driver
// VeloxDevice1; the wire's recording and capture (Recording); and, while the bench is
// published, the broker's publisher with the feed of the protocol and the rider device.
// How a production check is run and what becomes of its records is decided here once.
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
// Main thread only; the protocol must be connected for a check.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "check/check_plan.h"
#include "check/check_report.h"
#include "check/check_runner.h"
#include "check/memory_journal.h"
#include "common/component.h"
#include "device/resistance_map.h"
#include "device/velox_device_w.h"
#include "protocol/wireless_protocol.h"
#include "publish/bench_feed.h"
#include "publish/mqtt_publisher.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"
#include "testbench/bench_recording.h"
#include "wired/velox_device.h"

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
    // `design`: the front end's stored form for the bench's components, read after the
    // bench's own (the rider device and its map as the bench ships them); empty keeps
    // the components' defaults.
    explicit TTestBench(const std::string& design = {});
    ~TTestBench();
    TTestBench(const TTestBench&) = delete;
    TTestBench& operator=(const TTestBench&) = delete;

    // The components' root, "Form1", where the device test window finds the rider devices.
    TComponent& Root() { return root_; }
    TComPort& ComPort1() { return *comPort1_; }
    TMiraWirelessProtocol& Protocol() { return *tmp_; }
    TVeloxDeviceW& RiderDevice() { return *veloxDeviceW1_; }
    TResistanceMap& ResistanceMap() { return *resistanceMap1_; }
    wired::TVeloxDevice& WiredDevice() { return *veloxDevice1_; }
    TBenchRecording& Recording() { return *recording_; }

    // Publishes the bench on `settings`: the protocol's consoles and the rider device's
    // ride. `prepare` sets the publisher's events before its thread starts. One that runs
    // is stopped first. Throws what the publisher's settings are refused with.
    publish::TMqttPublisher& StartPublishing(
        const publish::TPublisherSettings& settings,
        const std::function<void(publish::TMqttPublisher&)>& prepare = nullptr);
    // Hands the publisher what is new since the last poll; the front end calls it on its
    // own clock (main thread). Nothing while not publishing.
    void PollPublishing();
    // Hands on the last of it and stops the publisher, giving it up to `grace` to
    // deliver what waits; what it sent in all. Nothing while not publishing.
    publish::TPublisherCounters StopPublishing(
        std::chrono::milliseconds grace = std::chrono::seconds(2));
    // The publisher while the bench is published, or none.
    publish::TMqttPublisher* Publisher() { return publisher_.get(); }

    // Throws ECheckRefused, naming the file and the cause, when the history or a report
    // cannot be written.
    TCheckSummary RunCheck(const TCheckRequest& request);

    // The history the bench keeps when none is named.
    static std::string HistoryPath();

private:
    TComponent root_;  // owns the components
    TComPort* comPort1_ = nullptr;
    TComDataPacket* comDataPacket1_ = nullptr;
    TMiraWirelessProtocol* tmp_ = nullptr;
    TVeloxDeviceW* veloxDeviceW1_ = nullptr;
    TResistanceMap* resistanceMap1_ = nullptr;
    wired::TVeloxDevice* veloxDevice1_ = nullptr;
    std::unique_ptr<TBenchRecording> recording_;  // on tmp
    std::unique_ptr<publish::TMqttPublisher> publisher_;
    std::unique_ptr<publish::TBenchFeed> feed_;
};

}  // namespace wct::testbench
