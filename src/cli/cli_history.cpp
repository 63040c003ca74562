#include "cli/cli_history.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"

namespace wct::cli {
namespace {

// The steps that did not pass, "keys,memory", or "-".
std::string NotPassed(const check::TCheckRecord& r) {
    std::string names;
    for (const check::TStepResult& s : r.steps)
        if (s.outcome != check::TOutcome::Pass) names += (names.empty() ? "" : ",") + s.name;
    return names.empty() ? "-" : names;
}

std::string Csv(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

std::string Serial(const check::TCheckRecord& r) {
    return r.serial ? std::to_string(*r.serial) : "";
}

}  // namespace

THistoryOptions ParseHistoryOptions(const std::vector<std::string>& args) {
    THistoryOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw EUsage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--db") {
            o.db = value();
        } else if (arg == "--serial") {
            o.filter.serial = ParseNumber(value(), arg, 0, 0xFFFFFF);
        } else if (arg == "--since") {
            try {
                o.filter.since = check::ParseSince(value());
            } catch (const check::ECheckHistory& e) {
                throw EUsage("--since: " + std::string(e.what()));
            }
        } else if (arg == "--outcome") {
            o.filter.outcome = check::ParseOutcome(value());
            if (!o.filter.outcome)
                throw EUsage("--outcome: '" + args[i] + "' is not PASS, FAIL or ERROR");
        } else if (arg == "--csv") {
            o.csv = true;
        } else if (arg == "--json") {
            o.json = true;
        } else {
            throw EUsage("history: unknown argument '" + arg + "'");
        }
    }
    if (o.csv && o.json) throw EUsage("history: --csv or --json, not both");
    if (o.db.empty()) o.db = check::TCheckHistory::DefaultPath();
    return o;
}

int RunHistory(const THistoryOptions& o, std::ostream& out, std::ostream& err) {
    std::vector<check::TCheckRecord> records;
    try {
        const check::TCheckHistory history(o.db, check::TCheckHistory::TAccess::Read);
        records = history.Find(o.filter);
    } catch (const check::ECheckHistory& e) {
        err << "wct: " << e.what() << '\n';
        return exFailed;
    }
    if (o.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const check::TCheckRecord& r : records) list.push_back(check::RecordToJson(r));
        out << list.dump(2) << '\n';
        return exDone;
    }
    if (o.csv) {
        out << "id,started,ended,console,serial,version,firmware,station,operator,plan,outcome,"
               "message,not_passed\n";
        for (const check::TCheckRecord& r : records) {
            out << r.id << ',' << r.started << ',' << r.ended << ',' << r.console << ','
                << Serial(r) << ',' << (r.version ? std::to_string(*r.version) : "") << ','
                << Csv(r.firmware) << ',' << Csv(r.station) << ',' << Csv(r.operatorName) << ','
                << Csv(r.plan) << ',' << check::OutcomeText(r.outcome) << ',' << Csv(r.message)
                << ',' << Csv(NotPassed(r)) << '\n';
        }
        return exDone;
    }
    out << "started serial console outcome not_passed station operator\n";
    for (const check::TCheckRecord& r : records) {
        out << r.started << ' ' << (r.serial ? Serial(r) : "-") << ' ' << r.console << ' '
            << check::OutcomeText(r.outcome) << ' ' << NotPassed(r) << ' '
            << (r.station.empty() ? "-" : r.station) << ' '
            << (r.operatorName.empty() ? "-" : r.operatorName) << '\n';
    }
    return exDone;
}

}  // namespace wct::cli
