// SPDX-License-Identifier: Apache-2.0
#include "central/central_history.h"

#include <libpq-fe.h>

#include <map>
#include <nlohmann/json.hpp>

namespace wct::central {
namespace {

using check::TCheckRecord;
using check::TStepResult;

// Each entry takes the schema from the version before it to its own (index + 1).
const char* const kMigrations[] = {
    R"(CREATE TABLE checks(
         seq BIGSERIAL PRIMARY KEY,
         id TEXT NOT NULL UNIQUE,
         run_id TEXT NOT NULL,
         console INTEGER NOT NULL,
         serial INTEGER,
         version INTEGER,
         firmware TEXT NOT NULL,
         plan TEXT NOT NULL,
         station TEXT NOT NULL,
         operator TEXT NOT NULL,
         started TEXT NOT NULL,
         ended TEXT NOT NULL,
         outcome TEXT NOT NULL CHECK (outcome IN ('PASS', 'FAIL', 'ERROR')),
         message TEXT NOT NULL,
         bench TEXT NOT NULL,
         received TIMESTAMPTZ NOT NULL DEFAULT now());
       CREATE INDEX checks_by_serial ON checks(serial, started, seq);
       CREATE INDEX checks_by_start ON checks(started, seq);
       CREATE INDEX checks_by_station ON checks(station, started, seq);
       CREATE TABLE steps(
         check_seq BIGINT NOT NULL REFERENCES checks(seq) ON DELETE CASCADE,
         position INTEGER NOT NULL,
         name TEXT NOT NULL,
         outcome TEXT NOT NULL,
         value TEXT NOT NULL,
         limits TEXT NOT NULL,
         ms BIGINT NOT NULL,
         message TEXT NOT NULL,
         measures TEXT NOT NULL,
         PRIMARY KEY (check_seq, position));
       CREATE TABLE rejected(
         seq BIGSERIAL PRIMARY KEY,
         received TIMESTAMPTZ NOT NULL DEFAULT now(),
         topic TEXT NOT NULL,
         payload BYTEA NOT NULL,
         reason TEXT NOT NULL);)",
};
static_assert(std::size(kMigrations) == TCentralHistory::kSchemaVersion);

// Taken while the schema is read and migrated, so that two collectors do it once.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7123001)";

const char* const kRecordColumns =
    "seq, id, run_id, console, serial, version, firmware, plan, station, operator, started, "
    "ended, outcome, message";

check::TOutcome OutcomeOf(const std::string& text) {
    return check::ParseOutcome(text).value_or(check::TOutcome::Error);
}

// Only the conditions given, so that the serial's or the station's index serves the
// search; their values join `params`.
std::string Conditions(const check::THistoryFilter& filter,
                       std::vector<std::optional<std::string>>& params) {
    const auto param = [&params](std::string value) {
        params.emplace_back(std::move(value));
        return "$" + std::to_string(params.size());
    };
    std::string sql;
    if (filter.serial) sql += " AND serial = " + param(std::to_string(*filter.serial));
    if (!filter.since.empty()) sql += " AND started >= " + param(filter.since);
    if (filter.outcome) sql += " AND outcome = " + param(check::OutcomeText(*filter.outcome));
    if (!filter.station.empty()) sql += " AND station = " + param(filter.station);
    return sql;
}

std::optional<std::string> Number(const std::optional<int32_t>& value) {
    return value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt;
}

}  // namespace

// One result, cleared with its scope.
class TCentralHistory::TResult {
public:
    explicit TResult(PGresult* result) : result_(result) {}
    ~TResult() { PQclear(result_); }
    TResult(TResult&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
    TResult(const TResult&) = delete;
    TResult& operator=(const TResult&) = delete;
    int Rows() const { return PQntuples(result_); }
    std::string Text(int row, int column) const { return PQgetvalue(result_, row, column); }
    int64_t Int(int row, int column) const { return std::stoll(Text(row, column)); }
    bool Null(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }
    bool Ok() const {
        const ExecStatusType status = PQresultStatus(result_);
        return result_ != nullptr && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
    }
    // The SQLSTATE of the error, "" when there is none.
    std::string State() const {
        const char* state = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
        return state != nullptr ? state : "";
    }

private:
    PGresult* result_;
};

bool IsCentralUrl(const std::string& db) {
    return db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0;
}

std::string CentralUrlProblem(const std::string& url) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
    if (options == nullptr) {
        std::string why = error != nullptr ? error : "out of memory";
        PQfreemem(error);
        while (!why.empty() && why.back() == '\n') why.pop_back();
        return "'" + url + "' is no PostgreSQL URL: " + why;
    }
    std::string problem;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o)
        if (std::string(o->keyword) == "password" && o->val != nullptr && o->val[0] != '\0')
            problem =
                "a password never goes in the URL, which command lines and settings show: put "
                "it in ~/.pgpass (or the file PGPASSFILE names), or name a service of "
                "~/.pg_service.conf with PGSERVICE";
    PQconninfoFree(options);
    return problem;
}

std::string ShownUrl(const std::string& url) {
    const size_t query = url.find('?');
    return url.substr(0, query);
}

TCentralHistory::TCentralHistory(const std::string& url, TAccess access) : shown_(ShownUrl(url)) {
    if (const std::string problem = CentralUrlProblem(url); !problem.empty())
        throw ECentralHistory(problem);
    conn_ = PQconnectdb(url.c_str());
    if (conn_ == nullptr) throw ECentralHistory("PostgreSQL " + shown_ + ": out of memory");
    try {
        if (PQstatus(conn_) != CONNECTION_OK) Fail(PQerrorMessage(conn_));
        // Notices (a table that already exists, ...) are no news to an operator.
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
        Exec("SET client_encoding = 'UTF8'");
        if (access == TAccess::Write) {
            Migrate();
        } else {
            const int found = SchemaVersion();
            if (found > kSchemaVersion)
                Refuse("written by a newer wct (schema " + std::to_string(found) +
                       ", this one knows " + std::to_string(kSchemaVersion) + ")");
            if (found < 1) Refuse("holds no check history yet; wct collect makes one");
        }
    } catch (...) {
        PQfinish(conn_);
        conn_ = nullptr;
        throw;
    }
}

TCentralHistory::~TCentralHistory() {
    PQfinish(conn_);
}

void TCentralHistory::Fail(const std::string& what) const {
    // libpq's messages run over several lines: one line reads better among others.
    std::string text;
    for (const char c : what) {
        if (c != '\n' && c != '\t')
            text += c;
        else if (!text.empty() && text.back() != ' ')
            text += ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    throw ECentralHistory("PostgreSQL " + shown_ + ": " + text);
}

void TCentralHistory::Refuse(const std::string& what) const {
    throw ECentralRefused("PostgreSQL " + shown_ + ": " + what);
}

TCentralHistory::TResult TCentralHistory::Exec(
    const std::string& sql, const std::vector<std::optional<std::string>>& params,
    bool binaryFirst) const {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const auto& p : params) {
        // Text goes as a C string: a NUL inside would cut it short unseen.
        if (p && !(binaryFirst && formats.empty()) && p->find('\0') != std::string::npos)
            throw ECentralRecord("a text holds a NUL character, which PostgreSQL cannot keep");
        values.push_back(p ? p->c_str() : nullptr);
        lengths.push_back(p ? static_cast<int>(p->size()) : 0);
        formats.push_back(binaryFirst && formats.empty() ? 1 : 0);
    }
    // Without parameters as a simple query, which may hold several statements (a migration).
    TResult result(params.empty()
                       ? PQexec(conn_, sql.c_str())
                       : PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                      values.data(), lengths.data(), formats.data(), 0));
    if (result.Ok()) return result;
    const std::string why = PQerrorMessage(conn_);
    // A value the database cannot hold (data exceptions, class 22; constraints, class 23)
    // is the record's own trouble; anything else is the database's.
    const std::string state = result.State();
    if (PQstatus(conn_) == CONNECTION_OK &&
        (state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0))
        throw ECentralRecord(why.substr(0, why.find_last_not_of('\n') + 1));
    Fail(why);
}

int TCentralHistory::SchemaVersion() const {
    const TResult table = Exec("SELECT to_regclass('wct_schema') IS NOT NULL");
    if (table.Text(0, 0) == "t") {
        const TResult version = Exec("SELECT max(version) FROM wct_schema");
        return version.Null(0, 0) ? 0 : static_cast<int>(version.Int(0, 0));
    }
    // A new history starts in a database of its own, never among another program's tables.
    const TResult other = Exec(
        "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema() "
        "LIMIT 1");
    if (other.Rows() > 0)
        Refuse("is not a check history (it holds '" + other.Text(0, 0) +
               "' and no schema version); name another database");
    return 0;
}

void TCentralHistory::Migrate() {
    Exec("BEGIN");
    try {
        Exec(kSchemaLock);
        // Read under the lock: another collector may have migrated meanwhile.
        const int found = SchemaVersion();
        if (found > kSchemaVersion)
            Refuse("written by a newer wct (schema " + std::to_string(found) + ", this one knows " +
                   std::to_string(kSchemaVersion) + ")");
        if (found == 0) Exec("CREATE TABLE wct_schema(version INTEGER NOT NULL)");
        for (int v = found; v < kSchemaVersion; ++v) {
            Exec(kMigrations[v]);
            Exec("DELETE FROM wct_schema");
            Exec("INSERT INTO wct_schema VALUES ($1)", {std::to_string(v + 1)});
        }
        Exec("COMMIT");
    } catch (...) {
        PQclear(PQexec(conn_, "ROLLBACK"));
        throw;
    }
}

TStored TCentralHistory::Add(const TCheckRecord& r, const std::string& bench) {
    Exec("BEGIN");
    try {
        const TResult check = Exec(
            "INSERT INTO checks(id, run_id, console, serial, version, firmware, plan, station, "
            "operator, started, ended, outcome, message, bench) VALUES ($1, $2, $3, $4, $5, $6, "
            "$7, $8, $9, $10, $11, $12, $13, $14) ON CONFLICT (id) DO NOTHING RETURNING seq",
            {r.id, r.runId, std::to_string(r.console), Number(r.serial), Number(r.version),
             r.firmware, r.plan, r.station, r.operatorName, r.started, r.ended,
             std::string(check::OutcomeText(r.outcome)), r.message, bench});
        if (check.Rows() == 0) {
            // Kept before: the same record delivered again, or another under its id.
            Exec("COMMIT");
            const std::optional<TCheckRecord> kept = Get(r.id);
            return kept && check::RecordToJson(*kept) == check::RecordToJson(r) ? TStored::Again
                                                                                : TStored::Conflict;
        }
        // Every step in one statement: one round trip a record, not one a step.
        const std::string seq = check.Text(0, 0);
        std::string sql =
            "INSERT INTO steps(check_seq, position, name, outcome, value, limits, ms, message, "
            "measures) VALUES ";
        std::vector<std::optional<std::string>> values;
        for (size_t i = 0; i < r.steps.size(); ++i) {
            const TStepResult& s = r.steps[i];
            sql += i == 0 ? "(" : ", (";
            // Appended piece by piece: "$" + to_string(...) makes GCC 12 at -O3 warn falsely.
            for (size_t column = 1; column <= 9; ++column) {
                sql += '$';
                sql += std::to_string(values.size() + column);
                sql += column < 9 ? ", " : ")";
            }
            values.insert(values.end(), {seq, std::to_string(i), s.name,
                                         std::string(check::OutcomeText(s.outcome)), s.value,
                                         s.limits, std::to_string(s.ms), s.message,
                                         check::MeasuresToJson(s.measures).dump()});
        }
        if (!r.steps.empty()) Exec(sql, values);
        Exec("COMMIT");
        return TStored::New;
    } catch (...) {
        if (PQstatus(conn_) == CONNECTION_OK) PQclear(PQexec(conn_, "ROLLBACK"));
        throw;
    }
}

void TCentralHistory::Reject(const std::string& topic, const std::string& payload,
                             const std::string& reason) {
    // The payload first, as bytes: it need not be text at all.
    Exec("INSERT INTO rejected(payload, topic, reason) VALUES ($1, $2, $3)",
         {payload, topic, reason}, true);
}

std::vector<TCheckRecord> TCentralHistory::Find(const check::THistoryFilter& filter) const {
    return FindPage(filter, std::nullopt, 0).records;
}

check::THistoryPage TCentralHistory::FindPage(const check::THistoryFilter& filter,
                                              const std::optional<check::THistoryKey>& after,
                                              size_t limit) const {
    // The page's start is a range on (started, seq) the indexes seek to.
    std::vector<std::optional<std::string>> params;
    std::string sql = std::string("SELECT ") + kRecordColumns + " FROM checks WHERE true" +
                      Conditions(filter, params);
    const auto param = [&params](std::string value) {
        params.emplace_back(std::move(value));
        return "$" + std::to_string(params.size());
    };
    if (after) {
        const std::string started = param(after->started);
        sql += " AND (started, seq) < (" + started + ", " + param(std::to_string(after->seq)) +
               "::bigint)";
    }
    sql += " ORDER BY started DESC, seq DESC";
    // One more than the page, to tell whether an older one follows.
    if (limit > 0) sql += " LIMIT " + std::to_string(limit + 1);
    const TResult rows = Exec(sql, params);

    check::THistoryPage page;
    page.records = Records(rows);
    if (limit > 0 && page.records.size() > limit) {
        page.records.resize(limit);
        page.next = check::THistoryKey{page.records.back().started,
                                       rows.Int(static_cast<int>(limit) - 1, 0)};
    }
    return page;
}

std::vector<check::TSummaryRow> TCentralHistory::SummaryRows(
    const check::THistoryFilter& filter) const {
    std::vector<std::optional<std::string>> params;
    const TResult rows = Exec(
        "SELECT c.id, c.serial, c.started, c.station, c.outcome, s.name, s.outcome FROM (SELECT "
        "seq, id, serial, started, station, outcome FROM checks WHERE true" +
            Conditions(filter, params) +
            ") AS c LEFT JOIN steps AS s ON s.check_seq = c.seq AND s.outcome <> 'PASS' ORDER BY "
            "c.seq, s.position",
        params);
    std::vector<check::TSummaryRow> summary;
    for (int i = 0; i < rows.Rows(); ++i) {
        if (summary.empty() || summary.back().id != rows.Text(i, 0)) {
            check::TSummaryRow row;
            row.id = rows.Text(i, 0);
            if (!rows.Null(i, 1)) row.serial = static_cast<int32_t>(rows.Int(i, 1));
            row.started = rows.Text(i, 2);
            row.station = rows.Text(i, 3);
            row.outcome = OutcomeOf(rows.Text(i, 4));
            summary.push_back(std::move(row));
        }
        if (!rows.Null(i, 5))
            summary.back().notPassed.emplace_back(rows.Text(i, 5), OutcomeOf(rows.Text(i, 6)));
    }
    return summary;
}

std::optional<TCheckRecord> TCentralHistory::Get(const std::string& id) const {
    const TResult rows =
        Exec(std::string("SELECT ") + kRecordColumns + " FROM checks WHERE id = $1", {id});
    std::vector<TCheckRecord> records = Records(rows);
    if (records.empty()) return std::nullopt;
    return std::move(records.front());
}

std::vector<TCheckRecord> TCentralHistory::Records(const TResult& rows) const {
    std::vector<TCheckRecord> records;
    std::map<int64_t, size_t> bySeq;
    std::string seqs;
    for (int i = 0; i < rows.Rows(); ++i) {
        TCheckRecord r;
        r.id = rows.Text(i, 1);
        r.runId = rows.Text(i, 2);
        r.console = static_cast<int>(rows.Int(i, 3));
        if (!rows.Null(i, 4)) r.serial = static_cast<int32_t>(rows.Int(i, 4));
        if (!rows.Null(i, 5)) r.version = static_cast<int>(rows.Int(i, 5));
        r.firmware = rows.Text(i, 6);
        r.plan = rows.Text(i, 7);
        r.station = rows.Text(i, 8);
        r.operatorName = rows.Text(i, 9);
        r.started = rows.Text(i, 10);
        r.ended = rows.Text(i, 11);
        r.outcome = OutcomeOf(rows.Text(i, 12));
        r.message = rows.Text(i, 13);
        bySeq[rows.Int(i, 0)] = records.size();
        seqs += (seqs.empty() ? "" : ",") + rows.Text(i, 0);
        records.push_back(std::move(r));
    }
    if (records.empty()) return records;
    // The steps of every record at once: one round trip a page, not one a record.
    const TResult steps = Exec(
        "SELECT check_seq, name, outcome, value, limits, ms, message, measures FROM steps "
        "WHERE check_seq = ANY($1::bigint[]) ORDER BY check_seq, position",
        {"{" + seqs + "}"});
    for (int i = 0; i < steps.Rows(); ++i) {
        TCheckRecord& r = records[bySeq.at(steps.Int(i, 0))];
        TStepResult s;
        s.name = steps.Text(i, 1);
        s.outcome = OutcomeOf(steps.Text(i, 2));
        s.value = steps.Text(i, 3);
        s.limits = steps.Text(i, 4);
        s.ms = static_cast<uint32_t>(steps.Int(i, 5));
        s.message = steps.Text(i, 6);
        try {
            s.measures = check::MeasuresFromJson(nlohmann::json::parse(steps.Text(i, 7)));
        } catch (const nlohmann::json::exception& e) {
            Fail("record " + r.id + ", step " + s.name + ": measures unreadable: " + e.what());
        }
        r.steps.push_back(std::move(s));
    }
    return records;
}

}  // namespace wct::central
