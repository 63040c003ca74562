#include "cli/cli_check.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>

#include "check/check_history.h"
#include "check/check_report.h"
#include "check/check_runner.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"

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

}  // namespace

TCheckOptions ParseCheckOptions(const std::vector<std::string>& args) {
    TCheckOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw EUsage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--console") {
            o.console = ParseNumber(value(), arg, 1, 254);
        } else if (arg == "--all") {
            o.all = true;
        } else if (arg == "--plan") {
            try {
                o.plan = check::ReadPlan(value());
            } catch (const check::ECheckPlan& e) {
                throw EUsage(std::string("plan ") + e.what());
            }
        } else if (arg == "--report") {
            o.report = value();
        } else if (arg == "--junit") {
            o.junit = value();
        } else if (arg == "--db") {
            o.db = value();
        } else if (arg == "--operator") {
            o.operatorName = value();
        } else if (arg == "--station") {
            o.station = value();
        } else {
            throw EUsage("check: unknown argument '" + arg + "'");
        }
    }
    if (o.all == o.console.has_value()) throw EUsage("check needs either --console N or --all");
    if (o.db.empty()) o.db = check::TCheckHistory::DefaultPath();
    if (o.operatorName.empty()) o.operatorName = UserName();
    if (o.station.empty()) o.station = HostName();
    return o;
}

int RunCheck(const TCheckOptions& o, std::optional<int> waitMs, TMiraWirelessProtocol& protocol,
             std::ostream& out, std::ostream& err, const std::function<bool()>& interrupted) {
    std::unique_ptr<check::TCheckHistory> history;
    std::unique_ptr<check::TReportFile> report, junit;
    try {
        history =
            std::make_unique<check::TCheckHistory>(o.db, check::TCheckHistory::TAccess::Write);
        if (o.report) report = std::make_unique<check::TReportFile>(*o.report);
        if (o.junit) junit = std::make_unique<check::TReportFile>(*o.junit);
    } catch (const std::exception& e) {
        err << "wct: " << e.what() << "; nothing checked\n";
        return exUsage;
    }

    std::vector<uint8_t> consoles;
    if (o.console)
        consoles.push_back(static_cast<uint8_t>(*o.console));
    else
        consoles =
            check::FindPresentConsoles(protocol, static_cast<uint32_t>(waitMs.value_or(1500)));
    if (consoles.empty()) {
        err << "wct: no console present\n";
        return exFailed;
    }

    bool kept = true;
    check::TCheckRunner runner(protocol, o.plan, {o.station, o.operatorName});
    runner.Interrupted = interrupted;
    runner.OnStep = [&](const check::TCheckRecord& r, const check::TStepResult& s) {
        out << r.console << ' ' << (r.serial ? std::to_string(*r.serial) : "-") << ' ' << s.name
            << ' ' << check::OutcomeText(s.outcome) << ' ' << s.value << ' ' << s.limits << ' '
            << s.ms << (s.message.empty() ? "" : " " + s.message) << std::endl;
    };
    runner.OnRecord = [&](const check::TCheckRecord& r) {
        try {
            history->Add(r);
        } catch (const std::exception& e) {
            err << "wct: console " << r.console << ": " << e.what() << '\n';
            kept = false;
        }
    };
    const check::TCheckRun run = runner.Run(consoles);

    try {
        if (report) report->Commit(check::RunToJson(run).dump(2) + "\n");
        if (junit) junit->Commit(check::JUnitText(run));
    } catch (const std::exception& e) {
        err << "wct: " << e.what() << '\n';
        kept = false;
    }
    size_t passed = 0;
    for (const check::TCheckRecord& r : run.records) passed += r.outcome == check::TOutcome::Pass;
    err << "wct: " << passed << " of " << run.records.size() << " consoles passed"
        << (run.interrupted ? " (interrupted)" : "") << '\n';
    return kept && passed == run.records.size() && !run.interrupted ? exDone : exFailed;
}

}  // namespace wct::cli
