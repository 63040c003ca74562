// SPDX-License-Identifier: Apache-2.0
// The central history of a line: every bench's check records in one PostgreSQL
// database, written by the collector and read by `wct history` on any bench.
//
// The database is named by a libpq URL (postgresql://host/db?sslmode=...) handed to libpq
// as it is, so that ~/.pgpass, PGPASSFILE, PGSERVICE and TLS work as they do for psql; a
// URL that carries a password is refused, since command lines are visible to every user.
// The schema carries its version in the table wct_schema and is migrated forward when
// the database is opened for writing, under a lock, so that two collectors starting at
// once migrate it once; a database of a newer schema, or one holding other tables and
// no version, is refused. Each record is written in one transaction with its steps and is
// kept once: its id is the key, and a copy that arrives again changes nothing.
//
// One object per thread; not shared.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check_history.h"
#include "check/check_record.h"
#include "check/check_summary.h"

struct pg_conn;

namespace wct::central {

// The database cannot be reached, was lost, or cannot be used; the text names it and says
// why.
class ECentralHistory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The database answers but is no history this wct can write or read (a newer schema,
// another program's tables): trying again will not help.
class ECentralRefused : public ECentralHistory {
public:
    using ECentralHistory::ECentralHistory;
};

// The database is there and well, but will not keep this record (a value it cannot hold).
class ECentralRecord : public ECentralHistory {
public:
    using ECentralHistory::ECentralHistory;
};

// Whether `db` names a PostgreSQL database rather than a SQLite file.
bool IsCentralUrl(const std::string& db);
// Why `url` cannot be used, or "": libpq cannot parse it, or it carries a password.
std::string CentralUrlProblem(const std::string& url);
// The URL as it may be shown: what libpq will connect to, without its options' values.
std::string ShownUrl(const std::string& url);

enum class TStored {
    New,       // kept now
    Again,     // the same record was kept before
    Conflict,  // its id holds another record, which is kept
};

class TCentralHistory {
public:
    enum class TAccess { Write, Read };
    // Connects and checks the schema; Write migrates it. Throws ECentralHistory.
    TCentralHistory(const std::string& url, TAccess access);
    ~TCentralHistory();
    TCentralHistory(const TCentralHistory&) = delete;
    TCentralHistory& operator=(const TCentralHistory&) = delete;

    // In one transaction, with its steps. `bench` is the bench that published it. Throws
    // ECentralRecord for a record the database cannot hold, ECentralHistory when the
    // database cannot be written (nothing of the record is then kept).
    TStored Add(const check::TCheckRecord& record, const std::string& bench);
    // Keeps a message that is no record of this wct's, with why, for a person to look at.
    // Throws ECentralHistory.
    void Reject(const std::string& topic, const std::string& payload, const std::string& reason);

    // As TCheckHistory's: newest first, page by page through an index.
    std::vector<check::TCheckRecord> Find(const check::THistoryFilter& filter) const;
    check::THistoryPage FindPage(const check::THistoryFilter& filter,
                                 const std::optional<check::THistoryKey>& after,
                                 size_t limit) const;
    // What a summary needs of the records `filter` lets through, in the order kept.
    std::vector<check::TSummaryRow> SummaryRows(const check::THistoryFilter& filter) const;
    // The record kept under `id`, if any.
    std::optional<check::TCheckRecord> Get(const std::string& id) const;

    static constexpr int kSchemaVersion = 1;

private:
    class TResult;
    TResult Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params = {},
                 bool binaryFirst = false) const;
    [[noreturn]] void Fail(const std::string& what) const;
    [[noreturn]] void Refuse(const std::string& what) const;
    int SchemaVersion() const;
    void Migrate();
    std::vector<check::TCheckRecord> Records(const TResult& rows) const;

    std::string shown_;
    pg_conn* conn_ = nullptr;
};

}  // namespace wct::central
