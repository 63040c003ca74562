// SPDX-License-Identifier: Apache-2.0
#include "check/check_history.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "common/state_folder.h"
#include "common/tick_count.h"

namespace wct::check {
namespace {

// Each entry takes the schema from the version before it to its own (index + 1).
const char* const kMigrations[] = {
    R"(CREATE TABLE checks(
         seq INTEGER PRIMARY KEY,
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
         message TEXT NOT NULL);
       CREATE INDEX checks_by_serial ON checks(serial, started);
       CREATE INDEX checks_by_start ON checks(started);
       CREATE TABLE steps(
         check_seq INTEGER NOT NULL REFERENCES checks(seq) ON DELETE CASCADE,
         position INTEGER NOT NULL,
         name TEXT NOT NULL,
         outcome TEXT NOT NULL,
         value TEXT NOT NULL,
         limits TEXT NOT NULL,
         ms INTEGER NOT NULL,
         message TEXT NOT NULL,
         PRIMARY KEY (check_seq, position)) WITHOUT ROWID;)",
    // Each step's numbers with their units and limits, as JSON.
    "ALTER TABLE steps ADD COLUMN measures TEXT NOT NULL DEFAULT '[]';",
};
static_assert(std::size(kMigrations) == TCheckHistory::kSchemaVersion);

// The columns each table must have from the version that brought it on: what a file
// that claims to be a history has to show before a run trusts it.
struct TColumns {
    const char* table;
    int since;
    std::vector<const char*> names;
};
const TColumns kTables[] = {
    {"checks",
     1,
     {"seq", "id", "run_id", "console", "serial", "version", "firmware", "plan", "station",
      "operator", "started", "ended", "outcome", "message"}},
    {"steps", 1, {"check_seq", "position", "name", "outcome", "value", "limits", "ms", "message"}},
    {"steps", 2, {"measures"}},
};

// Waits on the tick counter, so that a test's virtual clock makes the wait short; the
// history is idle meanwhile, which lets such a clock move on.
int WaitWhileBusy(void* since, int tries) {
    auto& start = *static_cast<uint32_t*>(since);
    if (tries == 0) start = GetTickCount();
    const uint32_t waited = GetTickCount() - start;
    if (waited >= TCheckHistory::kBusyTimeoutMs) return 0;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
        TickSource().WaitSlice(TCheckHistory::kBusyTimeoutMs - waited),
        std::chrono::milliseconds(20)));
    TickSource().Idle();
    return 1;
}

// One prepared statement, finalized with its scope.
class TStatement {
public:
    TStatement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~TStatement() { sqlite3_finalize(stmt_); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
    bool Ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* operator*() const { return stmt_; }

    void Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Bind(int i, int64_t value) { sqlite3_bind_int64(stmt_, i, value); }
    template <typename T>
    void Bind(int i, const std::optional<T>& value) {
        if (value)
            Bind(i, static_cast<int64_t>(*value));
        else
            sqlite3_bind_null(stmt_, i);
    }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        return text ? reinterpret_cast<const char*>(text) : "";
    }
    int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool Null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

TOutcome OutcomeOf(const std::string& text) {
    return ParseOutcome(text).value_or(TOutcome::Error);
}

// Only the conditions given, so that the serial's index serves the common search.
std::string Conditions(const THistoryFilter& filter) {
    std::string sql;
    if (filter.serial) sql += " AND serial = ?1";
    if (!filter.since.empty()) sql += " AND started >= ?2";
    if (filter.outcome) sql += " AND outcome = ?3";
    if (!filter.station.empty()) sql += " AND station = ?6";
    return sql;
}

void BindConditions(TStatement& query, const THistoryFilter& filter) {
    if (filter.serial) query.Bind(1, int64_t{*filter.serial});
    if (!filter.since.empty()) query.Bind(2, filter.since);
    if (filter.outcome) query.Bind(3, std::string(OutcomeText(*filter.outcome)));
    if (!filter.station.empty()) query.Bind(6, filter.station);
}

}  // namespace

TCheckHistory::TCheckHistory(const std::string& path, TAccess access) : path_(path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (access == TAccess::Read && !fs::exists(path, ec))
        throw ECheckHistory("history " + path + ": no such file");
    if (access == TAccess::Write && fs::path(path).has_parent_path())
        fs::create_directories(fs::path(path).parent_path(), ec);
    const int flags = access == TAccess::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                               : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw ECheckHistory("history " + path + ": " + why);
    }
    try {
        sqlite3_busy_handler(db_, WaitWhileBusy, &busySince_);
        sqlite3_extended_result_codes(db_, 1);
        // Reads the header: a file that is no database fails here, not halfway through a run.
        const int64_t found = SchemaVersion();
        if (found > kSchemaVersion)
            Fail("written by a newer wct (schema " + std::to_string(found) + ", this one knows " +
                 std::to_string(kSchemaVersion) + ")");
        CheckTables(found);
        if (access == TAccess::Write) {
            if (sqlite3_db_readonly(db_, "main") == 1) Fail("is read-only");
            Exec("PRAGMA journal_mode=WAL");
            Exec("PRAGMA foreign_keys=ON");
            Migrate();
            // Takes the write lock once: a file that cannot be written is refused now.
            Exec("BEGIN IMMEDIATE");
            Exec("ROLLBACK");
        } else if (found < 1) {
            Fail("is not a history of this wct's (schema " + std::to_string(found) + ")");
        }
        schema_ = SchemaVersion();
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

TCheckHistory::~TCheckHistory() {
    sqlite3_close(db_);
}

void TCheckHistory::Fail(const std::string& what) const {
    throw ECheckHistory("history " + path_ + ": " + what);
}

void TCheckHistory::Exec(const char* sql) const {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string why = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        if ((sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY)
            why += " by another program for " + std::to_string(kBusyTimeoutMs / 1000) + " s";
        Fail(why);
    }
}

void TCheckHistory::CheckTables(int64_t version) const {
    const auto refuse = [&](const std::string& why) {
        Fail("is not a check history (" + why + "); name another file with --db");
    };
    if (version == 0) {
        // A new history starts from an empty file, never from another program's tables.
        TStatement any(
            db_,
            "SELECT name FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\' LIMIT 1");
        if (!any.Ok()) Fail(sqlite3_errmsg(db_));
        const int rc = sqlite3_step(*any);
        if (rc == SQLITE_ROW) refuse("it holds '" + any.Text(0) + "' and no schema version");
        if (rc != SQLITE_DONE) Fail(sqlite3_errmsg(db_));
        return;
    }
    for (const TColumns& t : kTables) {
        if (t.since > version) continue;
        TStatement columns(db_,
                           std::string("SELECT name FROM pragma_table_info('") + t.table + "')");
        if (!columns.Ok()) Fail(sqlite3_errmsg(db_));
        std::vector<std::string> found;
        while (sqlite3_step(*columns) == SQLITE_ROW) found.push_back(columns.Text(0));
        if (found.empty())
            refuse("schema " + std::to_string(version) + " without a table '" + t.table + "'");
        for (const char* name : t.names)
            if (std::find(found.begin(), found.end(), name) == found.end())
                refuse(std::string("its table '") + t.table + "' has no column '" + name + "'");
    }
}

int64_t TCheckHistory::SchemaVersion() const {
    TStatement version(db_, "PRAGMA user_version");
    if (!version.Ok() || sqlite3_step(*version) != SQLITE_ROW) Fail(sqlite3_errmsg(db_));
    return version.Int(0);
}

void TCheckHistory::Migrate() {
    Exec("BEGIN IMMEDIATE");
    try {
        // Read again under the lock: another bench may have migrated meanwhile.
        for (auto v = SchemaVersion(); v < kSchemaVersion; ++v) {
            Exec(kMigrations[v]);
            Exec(("PRAGMA user_version=" + std::to_string(v + 1)).c_str());
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void TCheckHistory::Add(const TCheckRecord& r) {
    Exec("BEGIN IMMEDIATE");
    try {
        TStatement check(db_,
                         "INSERT INTO checks(id, run_id, console, serial, version, firmware, plan, "
                         "station, operator, started, ended, outcome, message) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        if (!check.Ok()) Fail(sqlite3_errmsg(db_));
        check.Bind(1, r.id);
        check.Bind(2, r.runId);
        check.Bind(3, int64_t{r.console});
        check.Bind(4, r.serial);
        check.Bind(5, r.version);
        check.Bind(6, r.firmware);
        check.Bind(7, r.plan);
        check.Bind(8, r.station);
        check.Bind(9, r.operatorName);
        check.Bind(10, r.started);
        check.Bind(11, r.ended);
        check.Bind(12, std::string(OutcomeText(r.outcome)));
        check.Bind(13, r.message);
        if (sqlite3_step(*check) != SQLITE_DONE) Fail(sqlite3_errmsg(db_));
        const int64_t seq = sqlite3_last_insert_rowid(db_);
        TStatement step(db_,
                        "INSERT INTO steps(check_seq, position, name, outcome, value, limits, ms, "
                        "message, measures) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        if (!step.Ok()) Fail(sqlite3_errmsg(db_));
        for (size_t i = 0; i < r.steps.size(); ++i) {
            const TStepResult& s = r.steps[i];
            sqlite3_reset(*step);
            step.Bind(1, seq);
            step.Bind(2, static_cast<int64_t>(i));
            step.Bind(3, s.name);
            step.Bind(4, std::string(OutcomeText(s.outcome)));
            step.Bind(5, s.value);
            step.Bind(6, s.limits);
            step.Bind(7, int64_t{s.ms});
            step.Bind(8, s.message);
            step.Bind(9, MeasuresToJson(s.measures).dump());
            if (sqlite3_step(*step) != SQLITE_DONE) Fail(sqlite3_errmsg(db_));
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<TCheckRecord> TCheckHistory::Find(const THistoryFilter& filter) const {
    return FindPage(filter, std::nullopt, 0).records;
}

THistoryPage TCheckHistory::FindPage(const THistoryFilter& filter,
                                     const std::optional<THistoryKey>& after, size_t limit) const {
    // The page's start is a range on `started` the indexes can seek to; seq parts the ties.
    std::string sql =
        "SELECT seq, id, run_id, console, serial, version, firmware, plan, station, operator, "
        "started, ended, outcome, message FROM checks WHERE 1" +
        Conditions(filter);
    if (after) sql += " AND started <= ?4 AND (started < ?4 OR seq < ?5)";
    sql += " ORDER BY started DESC, seq DESC";
    // One more than the page, to tell whether an older one follows.
    if (limit > 0) sql += " LIMIT " + std::to_string(limit + 1);
    TStatement query(db_, sql);
    // A file of an older schema is read as it is: its steps have no measures.
    TStatement steps(db_, std::string("SELECT name, outcome, value, limits, ms, message, ") +
                              (schema_ >= 2 ? "measures" : "'[]'") +
                              " FROM steps WHERE check_seq = ? ORDER BY position");
    if (!query.Ok() || !steps.Ok()) Fail(sqlite3_errmsg(db_));
    BindConditions(query, filter);
    if (after) {
        query.Bind(4, after->started);
        query.Bind(5, after->seq);
    }

    THistoryPage page;
    std::vector<TCheckRecord>& records = page.records;
    int64_t lastSeq = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(*query)) == SQLITE_ROW) {
        if (limit > 0 && records.size() == limit) {
            page.next = THistoryKey{records.back().started, lastSeq};
            break;
        }
        TCheckRecord r;
        r.id = query.Text(1);
        r.runId = query.Text(2);
        r.console = static_cast<int>(query.Int(3));
        if (!query.Null(4)) r.serial = static_cast<int32_t>(query.Int(4));
        if (!query.Null(5)) r.version = static_cast<int>(query.Int(5));
        r.firmware = query.Text(6);
        r.plan = query.Text(7);
        r.station = query.Text(8);
        r.operatorName = query.Text(9);
        r.started = query.Text(10);
        r.ended = query.Text(11);
        r.outcome = OutcomeOf(query.Text(12));
        r.message = query.Text(13);
        sqlite3_reset(*steps);
        steps.Bind(1, query.Int(0));
        while (sqlite3_step(*steps) == SQLITE_ROW) {
            TStepResult s;
            s.name = steps.Text(0);
            s.outcome = OutcomeOf(steps.Text(1));
            s.value = steps.Text(2);
            s.limits = steps.Text(3);
            s.ms = static_cast<uint32_t>(steps.Int(4));
            s.message = steps.Text(5);
            try {
                s.measures = MeasuresFromJson(nlohmann::json::parse(steps.Text(6)));
            } catch (const nlohmann::json::exception& e) {
                Fail("record " + r.id + ", step " + s.name + ": measures unreadable: " + e.what());
            }
            r.steps.push_back(std::move(s));
        }
        lastSeq = query.Int(0);
        records.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(sqlite3_errmsg(db_));
    return page;
}

std::vector<TSummaryRow> TCheckHistory::SummaryRows(const THistoryFilter& filter) const {
    TStatement query(db_,
                     "SELECT c.id, c.serial, c.started, c.station, c.outcome, s.name, s.outcome "
                     "FROM (SELECT seq, id, serial, started, station, outcome FROM checks "
                     "WHERE 1" +
                         Conditions(filter) +
                         ") AS c LEFT JOIN steps AS s ON s.check_seq = c.seq AND s.outcome <> "
                         "'PASS' ORDER BY c.seq, s.position");
    if (!query.Ok()) Fail(sqlite3_errmsg(db_));
    BindConditions(query, filter);
    std::vector<TSummaryRow> rows;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(*query)) == SQLITE_ROW) {
        if (rows.empty() || rows.back().id != query.Text(0)) {
            TSummaryRow row;
            row.id = query.Text(0);
            if (!query.Null(1)) row.serial = static_cast<int32_t>(query.Int(1));
            row.started = query.Text(2);
            row.station = query.Text(3);
            row.outcome = OutcomeOf(query.Text(4));
            rows.push_back(std::move(row));
        }
        if (!query.Null(5))
            rows.back().notPassed.emplace_back(query.Text(5), OutcomeOf(query.Text(6)));
    }
    if (rc != SQLITE_DONE) Fail(sqlite3_errmsg(db_));
    return rows;
}

std::string TCheckHistory::DefaultPath() {
    const std::string path = StateFolder() + "checks.sqlite";
    // The history used to live in the data folder: a bench that kept one there goes on
    // with it rather than starting an empty one.
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path former =
        data != nullptr && data[0] == '/'
            ? std::filesystem::path(data) / "WirelessConsoleTest/checks.sqlite"
            : std::filesystem::path(home != nullptr ? home : ".") /
                  ".local/share/WirelessConsoleTest/checks.sqlite";
    std::error_code error;
    if (!std::filesystem::exists(path, error) && std::filesystem::exists(former, error))
        return former.string();
    return path;
}

std::string ParseSince(const std::string& text) {
    static const std::regex form(
        R"((\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{3}))?)?)?Z?)");
    std::smatch m;
    const auto part = [&](size_t i, const char* fallback) {
        return m[i].matched ? m[i].str() : std::string(fallback);
    };
    if (!std::regex_match(text, m, form) || std::stoi(m[2]) < 1 || std::stoi(m[2]) > 12 ||
        std::stoi(m[3]) < 1 || std::stoi(m[3]) > 31 || std::stoi(part(4, "0")) > 23 ||
        std::stoi(part(5, "0")) > 59 || std::stoi(part(6, "0")) > 59)
        throw ECheckHistory("'" + text + "' is no date (YYYY-MM-DD[THH:MM[:SS]] in UTC)");
    return m[1].str() + "-" + m[2].str() + "-" + m[3].str() + "T" + part(4, "00") + ":" +
           part(5, "00") + ":" + part(6, "00") + "." + part(7, "000") + "Z";
}

}  // namespace wct::check
