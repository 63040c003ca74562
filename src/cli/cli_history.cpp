// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_history.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "central/central_history.h"
#include "check/check_summary.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"

namespace wct::cli {
namespace {

// The steps that did not pass, "keys,memory", or "-".
std::string NotPassed(const check::TCheckRecord& r) {
    const std::string names = check::NotPassed(r, ",");
    return names.empty() ? "-" : names;
}

std::string Csv(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

// A name in the text form, where a line is a record: the control characters of a name
// from a history written before names were checked are shown escaped, so none can start
// a line of its own.
std::string Shown(const std::string& name) {
    if (name.empty()) return "-";
    std::string text;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            text += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        text += escaped;
    }
    return text;
}

std::string Serial(const check::TCheckRecord& r) {
    return r.serial ? std::to_string(*r.serial) : "";
}

}  // namespace

void DeclareHistoryOptions(TCommand& history, THistoryOptions& o) {
    history
        .Option("--db", "FILE|URL",
                "the history (" + check::TCheckHistory::DefaultPath() +
                    "), or a line's: postgresql://[host][:port]/database[?...]",
                Text(o.db))
        .Option("--serial", "S", "one console's records", Number(o.filter.serial, 0, 0xFFFFFF))
        .Option("--since", "DATE", "records started at or after, UTC: YYYY-MM-DD[THH:MM[:SS]]",
                [&o](const std::string& name, const std::string& value) {
                    try {
                        o.filter.since = check::ParseSince(value);
                    } catch (const check::ECheckHistory& e) {
                        throw EUsage(name + ": " + e.what());
                    }
                })
        .Option("--outcome", "PASS|FAIL|ERROR", "records of that outcome",
                [&o](const std::string& name, const std::string& value) {
                    o.filter.outcome = check::ParseOutcome(value);
                    if (!o.filter.outcome)
                        throw EUsage(name + ": '" + value + "' is not PASS, FAIL or ERROR");
                })
        .Option("--station", "NAME", "the records of one station", Text(o.filter.station))
        .Flag("--csv", o.csv, "comma-separated, every field but the steps")
        .Flag("--json", o.json, "the records as JSON")
        .Flag("--summary", o.summary,
              "first-pass yield per day and station, and the steps that fail most")
        .Check([&o] {
            if (o.csv && o.json) throw EUsage("history: --csv or --json, not both");
            if (o.db.empty()) o.db = check::TCheckHistory::DefaultPath();
            if (central::IsCentralUrl(o.db))
                if (const std::string problem = central::CentralUrlProblem(o.db); !problem.empty())
                    throw EUsage("--db: " + problem);
        });
}

namespace {

// A share as a percentage with one decimal, "93.3".
std::string Percent(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", share * 100);
    return text;
}

void PrintSummary(const THistoryOptions& o, const check::TCheckSummary& summary,
                  std::ostream& out) {
    if (o.json) {
        nlohmann::json yield = nlohmann::json::array();
        for (const check::TYieldRow& y : summary.yield)
            yield.push_back({{"day", y.day},
                             {"station", y.station},
                             {"consoles", y.consoles},
                             {"first_pass", y.firstPassed},
                             {"yield", std::round(y.Yield() * 10000) / 10000},
                             {"records", y.records}});
        nlohmann::json steps = nlohmann::json::array();
        for (const check::TStepFailures& f : summary.steps)
            steps.push_back({{"step", f.step}, {"failed", f.failed}, {"erred", f.erred}});
        out << nlohmann::json{{"yield", yield}, {"steps", steps}}.dump(2) << '\n';
        return;
    }
    if (o.csv) {
        // Two tables, each with its heading, parted by an empty line.
        out << "day,station,consoles,first_pass,yield_percent,records\n";
        for (const check::TYieldRow& y : summary.yield)
            out << y.day << ',' << Csv(y.station) << ',' << y.consoles << ',' << y.firstPassed
                << ',' << Percent(y.Yield()) << ',' << y.records << '\n';
        out << "\nstep,failed,erred\n";
        for (const check::TStepFailures& f : summary.steps)
            out << Csv(f.step) << ',' << f.failed << ',' << f.erred << '\n';
        return;
    }
    out << "day station consoles first_pass yield records\n";
    for (const check::TYieldRow& y : summary.yield)
        out << y.day << ' ' << Shown(y.station) << ' ' << y.consoles << ' ' << y.firstPassed << ' '
            << Percent(y.Yield()) << "% " << y.records << '\n';
    out << "\nstep failed erred\n";
    for (const check::TStepFailures& f : summary.steps)
        out << Shown(f.step) << ' ' << f.failed << ' ' << f.erred << '\n';
}

// Reads what `o` asks for from `history`: the summary's rows, or the records.
template <typename THistory>
void Read(const THistory& history, const THistoryOptions& o,
          std::vector<check::TCheckRecord>& records, std::vector<check::TSummaryRow>& rows) {
    if (o.summary)
        rows = history.SummaryRows(o.filter);
    else
        records = history.Find(o.filter);
}

}  // namespace

int RunHistory(const THistoryOptions& o, std::ostream& out, std::ostream& err) {
    std::vector<check::TCheckRecord> records;
    std::vector<check::TSummaryRow> rows;
    try {
        if (central::IsCentralUrl(o.db))
            Read(central::TCentralHistory(o.db, central::TCentralHistory::TAccess::Read), o,
                 records, rows);
        else
            Read(check::TCheckHistory(o.db, check::TCheckHistory::TAccess::Read), o, records, rows);
    } catch (const std::runtime_error& e) {
        err << "wct: " << e.what() << '\n';
        return exFailed;
    }
    if (o.summary) {
        PrintSummary(o, check::Summarize(rows), out);
        return exDone;
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
            << check::OutcomeText(r.outcome) << ' ' << NotPassed(r) << ' ' << Shown(r.station)
            << ' ' << Shown(r.operatorName) << '\n';
    }
    return exDone;
}

}  // namespace wct::cli
