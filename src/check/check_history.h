// SPDX-License-Identifier: Apache-2.0
// The history of production checks: one SQLite file holding every console's record.
//
// Two benches may write one file: it runs in WAL mode with a busy time-out, so a writer
// waits for the other's transaction, or another program's lock, up to kBusyTimeoutMs
// (on the tick counter) rather than failing at once. WAL shares an index in memory
// beside the file, so the file must sit on a disk both benches' machine mounts locally,
// not on a network file system. Each record is written in one transaction: a crash
// leaves whole records only. The schema carries its version (user_version) and is
// migrated forward when the file is opened for writing; a file of an older schema is read
// as it is. Opening checks that the file is a history: an empty file, or one whose
// tables and columns are those of its version; anything else is refused.
//
// One object per thread; not shared.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check_record.h"
#include "check/check_summary.h"

struct sqlite3;

namespace wct::check {

class ECheckHistory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct THistoryFilter {
    std::optional<int32_t> serial;
    std::string since;  // UTC, ISO 8601 as records hold it; records started at or after it
    std::optional<TOutcome> outcome;
    std::string station;  // records of that station only, when given
};

// Where a page of the history ends: the next page holds the records older than it.
struct THistoryKey {
    std::string started;
    int64_t seq = 0;  // orders records that started in the same millisecond
};

struct THistoryPage {
    std::vector<TCheckRecord> records;  // newest first
    std::optional<THistoryKey> next;    // none: no older record matches
};

class TCheckHistory {
public:
    enum class TAccess { Write, Read };
    // Write: creates the file (and its folder) when missing and proves that it can be
    // written, so that a check is refused before its first console. Read: the file must
    // exist. Throws ECheckHistory naming the file and the cause.
    TCheckHistory(const std::string& path, TAccess access);
    ~TCheckHistory();
    TCheckHistory(const TCheckHistory&) = delete;
    TCheckHistory& operator=(const TCheckHistory&) = delete;

    // In one transaction. Throws ECheckHistory; nothing of the record is then kept.
    void Add(const TCheckRecord& record);
    // Newest first (by start time).
    std::vector<TCheckRecord> Find(const THistoryFilter& filter) const;
    // What a summary needs of the records `filter` lets through, in the order kept.
    std::vector<TSummaryRow> SummaryRows(const THistoryFilter& filter) const;
    // Up to `limit` of them, those older than `after` when given. Each page is sought
    // through an index, so a page deep in a long history costs what the first one does.
    THistoryPage FindPage(const THistoryFilter& filter, const std::optional<THistoryKey>& after,
                          size_t limit) const;

    // checks.sqlite in the state folder (StateFolder); one kept where the history used to
    // be, in the data folder ($XDG_DATA_HOME or ~/.local/share), while the state folder
    // has none.
    static std::string DefaultPath();
    static constexpr int kSchemaVersion = 2;
    static constexpr uint32_t kBusyTimeoutMs = 5000;

private:
    void Exec(const char* sql) const;
    [[noreturn]] void Fail(const std::string& what) const;
    int64_t SchemaVersion() const;
    // Throws ECheckHistory when the file's tables are not those of `version`.
    void CheckTables(int64_t version) const;
    void Migrate();

    std::string path_;
    sqlite3* db_ = nullptr;
    int64_t schema_ = 0;      // of the file as opened; an older one is read as it is
    uint32_t busySince_ = 0;  // the tick the current wait for a lock began
};

// "2026-12-08", "2026-12-08T10:00", "2026-12-08T10:00:00" or with ".mmm" and/or "Z": the
// UTC time in the records' form. Throws ECheckHistory for anything else.
std::string ParseSince(const std::string& text);

}  // namespace wct::check
