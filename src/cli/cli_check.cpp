// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_check.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>

#include "check/check_history.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "publish/check_outbox.h"
#include "publish/mqtt_publisher.h"
#include "testbench/testbench.h"

namespace wct::cli {
namespace {

std::string HostName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string UserName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') return user;
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "";
}

// How long the end of a run waits for the broker to acknowledge the records in flight;
// what it does not acknowledge stays in the outbox for the next run.
constexpr std::chrono::seconds kPublishGrace{5};

}  // namespace

void DeclareCheckOptions(TCommand& check, TCheckOptions& o) {
    check.Option("--console", "N", "the console to check", Number(o.console, 1, 254))
        .Flag("--all", o.all, "every console present (joining or measuring within --wait)")
        .Option("--plan", "FILE", "the check plan, a TOML file (the built-in one otherwise)",
                [&o](const std::string&, const std::string& value) {
                    try {
                        o.plan = check::ReadPlan(value);
                    } catch (const check::ECheckPlan& e) {
                        throw EUsage(std::string("plan ") + e.what());
                    }
                })
        .Option("--report", "FILE.json", "the run and its records as JSON", Text(o.report))
        .Option("--junit", "FILE.xml", "one testsuite per console, one testcase per step",
                Text(o.junit))
        .Option("--db", "FILE", "the history (" + check::TCheckHistory::DefaultPath() + ")",
                Text(o.db))
        .Option("--operator", "NAME", "who checks (the user)", Name(o.operatorName))
        .Option("--station", "NAME", "where (the host name)", Name(o.station));
    DeclareBrokerOptions(check, o.broker, false);
    check.Check([&o] {
        if (o.all == o.console.has_value()) throw EUsage("check needs either --console N or --all");
        if (o.db.empty()) o.db = check::TCheckHistory::DefaultPath();
        if (o.operatorName.empty()) o.operatorName = UserName();
        if (o.station.empty()) o.station = HostName();
    });
}

namespace {

// The records' publisher, started; none without a broker or when it cannot start.
std::unique_ptr<publish::TMqttPublisher> StartPublisher(const TCheckOptions& o, std::ostream& err,
                                                        std::mutex& errLock) {
    if (!o.broker.Given()) return nullptr;
    try {
        auto publisher = std::make_unique<publish::TMqttPublisher>(o.broker.settings);
        publisher->OnNotice = [&err, &errLock](const std::string& text, bool) {
            std::lock_guard lock(errLock);
            err << "wct: " << text << std::endl;
        };
        publisher->Start();
        return publisher;
    } catch (const std::exception& e) {
        err << "wct: " << e.what() << "; the records are not published\n";
        return nullptr;
    }
}

// Stops it, telling how many records wait for the next run.
void StopPublisher(publish::TMqttPublisher& publisher, const TCheckOptions& o, std::ostream& err) {
    publisher.Stop(kPublishGrace);
    const size_t waiting = publish::TCheckOutbox(o.broker.settings.outboxDir).Names().size();
    if (waiting > 0)
        err << "wct: " << waiting << " check records wait in " << o.broker.settings.outboxDir
            << " for the next run with the broker\n";
}

}  // namespace

int RunCheck(const TCheckOptions& o, std::optional<int> waitMs, testbench::TTestBench& bench,
             std::ostream& out, std::ostream& err, const std::function<bool()>& interrupted) {
    std::mutex errLock;  // notices come from the publisher's thread
    std::unique_ptr<publish::TMqttPublisher> publisher;
    testbench::TPublisherSink published([&publisher] { return publisher.get(); });

    testbench::TCheckRequest request;
    if (o.console) request.consoles.push_back(static_cast<uint8_t>(*o.console));
    request.presentWaitMs = static_cast<uint32_t>(waitMs.value_or(1500));
    request.plan = o.plan;
    request.session = {o.station, o.operatorName};
    request.history = o.db;
    request.report = o.report.value_or("");
    request.junit = o.junit.value_or("");
    request.sinks = {&published};
    request.Interrupted = interrupted;
    request.OnStart = [&] { publisher = StartPublisher(o, err, errLock); };
    request.OnStep = [&](const check::TCheckRecord& r, const check::TStepResult& s) {
        out << r.console << ' ' << (r.serial ? std::to_string(*r.serial) : "-") << ' ' << s.name
            << ' ' << check::OutcomeText(s.outcome) << ' ' << s.value << ' ' << s.limits << ' '
            << s.ms << (s.message.empty() ? "" : " " + s.message) << std::endl;
    };
    testbench::TCheckSummary summary;
    try {
        summary = bench.RunCheck(request);
    } catch (const testbench::ECheckRefused& e) {
        err << "wct: " << e.what() << "; nothing checked\n";
        return exUsage;
    }
    if (publisher) StopPublisher(*publisher, o, err);
    for (uint8_t id : summary.absent)
        err << "wct: console " << int{id} << " is not present (no measures within "
            << request.presentWaitMs << " ms)\n";
    if (summary.noConsole) {
        err << "wct: " << (summary.absent.empty() ? "no console present" : "nothing checked")
            << '\n';
        return exFailed;
    }
    for (const std::string& line : summary.notKept) err << "wct: " << line << '\n';
    if (summary.unkept > 0)
        err << "wct: the run stopped: " << summary.unkept << " record"
            << (summary.unkept == 1 ? " was" : "s were") << " not kept in the history "
            << request.history << '\n';
    err << "wct: " << summary.passed << " of " << summary.run.records.size() << " consoles passed"
        << (summary.unkept > 0        ? " (stopped)"
            : summary.run.interrupted ? " (interrupted)"
                                      : "")
        << '\n';
    if (summary.unkept > 0) return exNotKept;
    return summary.AllPassedAndKept() ? exDone : exFailed;
}

}  // namespace wct::cli
